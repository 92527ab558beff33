#include "recovery/recovery.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "core/log.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_stream.h"
#include "platform/thread_priority.h"
#include "recovery/probable_size.h"
#include "recovery/safe_names.h"

namespace duzez::recovery {
namespace {

using core::StringId;
namespace ObjectFlags = filesystems::ObjectFlags;
using platform::PartFile;

// Beyond this many numbered names for one file, something is wrong with the folder.
constexpr unsigned kMaxNumberedNames = 10000;

// Keeps the pointer to the file being written for DiscardPartialFile, under its mutex.
class CurrentPart {
  public:
    CurrentPart(std::mutex& mutex, PartFile*& slot, PartFile* part) : mutex_(mutex), slot_(slot) {
        std::lock_guard lock(mutex_);
        slot_ = part;
    }
    ~CurrentPart() {
        std::lock_guard lock(mutex_);
        slot_ = nullptr;
    }
    CurrentPart(const CurrentPart&) = delete;
    CurrentPart& operator=(const CurrentPart&) = delete;

  private:
    std::mutex& mutex_;
    PartFile*& slot_;
};

}  // namespace

SizeAnswer RecoveryQuestions::AnswerSizeQuestion(const ProbableSize& question) {
    return AskProbableSize(question.Object());
}

SizeAnswer RecoveryQuestions::AskProbableSize(const filesystems::FoundObject&) {
    return {};
}

CRecovery::CRecovery(devices::CLocalComputer& computer)
    : computer_(computer), copyBuffer_(kBlockBytes) {}

CRecovery::~CRecovery() {
    AbortRecovery();
    Wait();
}

void CRecovery::StartRecovery(const std::filesystem::path& destination) {
    Wait();
    RecoveredCount = 0;
    RecoveredBytes = 0;
    Start(destination, false);
}

void CRecovery::StartTryOpen(const std::filesystem::path& temporaryFolder) {
    Wait();
    Start(temporaryFolder, true);
}

void CRecovery::Start(const std::filesystem::path& destination, bool tryOpen) {
    TotalBytes = 0;
    for (const auto* object : RecoveryList) {
        if (object->Size != filesystems::kUnknownSize)
            TotalBytes += object->Size;
    }
    SourceVolume = computer_.ActiveVolume.load();
    writtenThisRun_.clear();
    Results.clear();
    DestinationFull = false;
    LastFilePath.clear();
    finished_ = false;
    // Set here, not in the thread, so that an abort right after the start is not lost.
    RecoveryRunning = true;
    thread_ = std::thread([this, destination, tryOpen] { Run(destination, tryOpen); });
}

void CRecovery::Wait() {
    if (thread_.joinable())
        thread_.join();
}

void CRecovery::Run(std::filesystem::path destination, bool tryOpen) {
    core::CLog& log = computer_.Log();
    try {
        if (!tryOpen && !CheckDestination(destination)) {
            RecoveryRunning = false;
            log.LogMessage(StringId::RecoveryCompleted);
            finished_ = true;
            return;
        }
        std::string error;
        output_ = platform::OutputFolder::Open(destination, error, NewFilesOwner);
        if (!output_) {
            log.LogErrorMessage(StringId::CantCreateFolder, destination.string());
            log.LogError("%s", error);
            RecoveryRunning = false;
            finished_ = true;
            return;
        }
        platform::LowerCurrentThreadPriority();
        for (CurrentIndex = 0; CurrentIndex < RecoveryList.size() && RecoveryRunning;
             ++CurrentIndex) {
            RecoverListEntry(*RecoveryList[CurrentIndex]);
        }
    } catch (const std::exception& e) {
        log.LogError("Recovery_Thread.except: %s", e.what());
        RecoveryRunning = false;
    }
    openPath_.clear();
    output_.reset();
    // An abort, during the last file too, is not a completed recovery.
    if (!RecoveryRunning) {
        log.LogMessage(StringId::RecoveryAborted);
        finished_ = true;
        return;
    }
    log.LogMessage(StringId::RecoveryCompleted);
    RecoveryRunning = false;
    if (tryOpen)
        OpenLastFile();
    finished_ = true;
}

void CRecovery::RecoverListEntry(const filesystems::FoundObject& object) {
    try {
        RecoverObject(object);
    } catch (const std::exception& e) {
        // The object fails; its temporary file went with the stack.
        computer_.Log().LogError("Recovery_Thread.RecoveryCycle.except1: %s", e.what());
        Results.push_back({&object, {}, FileOutcome::Failed, 0});
    }
}

void CRecovery::DiscardPartialFile() {
    std::lock_guard lock(partMutex_);
    if (part_ != nullptr)
        part_->Discard();
}

void CRecovery::OpenLastFile() {
    core::CLog& log = computer_.Log();
    std::error_code ec;
    if (LastFilePath.empty() || !std::filesystem::is_regular_file(LastFilePath, ec))
        return;
    TemporaryFiles.push_back(LastFilePath);
    const platform::ShellOpenResult result = opener_->Open(LastFilePath);
    switch (result.status) {
        case platform::ShellOpenStatus::Opened:
            log.LogMessage(StringId::FileOpened, LastFilePath.string());
            break;
        case platform::ShellOpenStatus::NoAssociatedApplication:
            log.LogErrorMessage(StringId::OpenNoApplication, LastFilePath.string());
            break;
        case platform::ShellOpenStatus::Failed:
            log.LogErrorMessage(StringId::OpenFailed, LastFilePath.string(), result.code);
            break;
    }
}

void CRecovery::DeleteTemporaryFiles() {
    if (TemporaryFiles.empty() ||
        !computer_.Ask(StringId::Confirmation, StringId::DeleteTemporaryFiles))
        return;
    for (const auto& file : TemporaryFiles) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
    TemporaryFiles.clear();
}

std::string CRecovery::DestinationProblem(const std::filesystem::path& destination,
                                          devices::CVolume* source) const {
    if (destination.empty())
        return "no destination folder was given";
    if (computer_.DestinationOnSource(destination, source)) {
        return destination.string() +
               " lies on the drive being recovered from or holds the image being read; "
               "choose a destination on another drive";
    }
    std::string error;
    if (!platform::OutputFolder::Open(destination, error, NewFilesOwner))
        return error;
    return {};
}

bool CRecovery::IsDestinationSetting(const std::filesystem::path& path) const {
    const auto normal = [](const std::filesystem::path& p) {
        std::string text = p.lexically_normal().string();
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
        return text;
    };
    const std::string setting = computer_.App().Settings().DestinationFolder();
    return !setting.empty() && !path.empty() && normal(path) == normal(setting);
}

bool CRecovery::CheckDestination(std::filesystem::path& path) {
    // A folder chosen in place of the stored destination becomes the stored destination.
    const bool isSetting = IsDestinationSetting(path);
    // The destination's file system must not lie on the drive being recovered from.
    while (computer_.DestinationOnSource(path, SourceVolume)) {
        const auto other =
            questions_ != nullptr ? questions_->AskOtherDestination(path) : std::nullopt;
        if (!other || other->empty())
            return false;
        path = *other;
        if (isSetting)
            computer_.App().Settings().SetDestinationFolder(path.string());
    }
    return true;
}

std::uint64_t CRecovery::SizeBy(SizeMethod method, const filesystems::FoundObject& object,
                                std::uint64_t customBytes) const {
    // Typed as the size question types it, so that the figures it showed are what is used.
    filesystems::FoundObject typed = object;
    const auto* signature = computer_.Signatures().FindSignatureForObject(typed);
    return SizeByMethod(method, typed, *SourceVolume->FoundObjectTree, signature, customBytes);
}

void CRecovery::RememberSizeChoice(const SizeAnswer& answer, const filesystems::FoundObject& object,
                                   std::uint64_t size) {
    if (answer.result != SizeAnswer::Result::Ok || answer.method == SizeMethod::None)
        return;
    // Remembered in KiB, as the type records keep sizes; an unknown size is no size.
    const std::uint64_t kb = size == filesystems::kUnknownSize ? 0 : size / 1024;
    if (answer.scope == SizeScope::AnyType) {
        if (answer.method == SizeMethod::Custom) {
            SizeKBForAll = static_cast<std::int32_t>(
                std::min<std::uint64_t>(kb, std::numeric_limits<std::int32_t>::max()));
        }
        SizeMethodForAll = static_cast<std::uint32_t>(answer.method);
    } else if (answer.scope == SizeScope::ThisType) {
        auto* signature = SignatureOf(computer_.Signatures(), object);
        if (signature == nullptr)
            return;
        if (answer.method == SizeMethod::Custom) {
            signature->DefaultSize = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(kb, std::numeric_limits<std::uint32_t>::max()));
        }
        signature->SizeMethodForType = static_cast<std::uint32_t>(answer.method);
    }
}

std::optional<std::uint64_t> CRecovery::SettleSize(const filesystems::FoundObject& object) {
    core::CLog& log = computer_.Log();
    const auto* signature = SignatureOf(computer_.Signatures(), object);
    if (SizeMethodForAll != 0) {
        const auto method = static_cast<SizeMethod>(SizeMethodForAll.load());
        return SizeBy(method, object, std::uint64_t(std::max(0, SizeKBForAll.load())) * 1024);
    }
    if (signature != nullptr && signature->SizeMethodForType != 0) {
        return SizeBy(static_cast<SizeMethod>(signature->SizeMethodForType.load()), object,
                      std::uint64_t{signature->DefaultSize} * 1024);
    }
    SizeAnswer answer;
    if (questions_ != nullptr) {
        const ProbableSize question(object, *SourceVolume->FoundObjectTree,
                                    &computer_.Signatures());
        answer = questions_->AnswerSizeQuestion(question);
    }
    if (answer.result != SizeAnswer::Result::Ok) {
        log.LogErrorMessage(answer.result == SizeAnswer::Result::Skip ? StringId::RecoverySkipped
                                                                      : StringId::RecoveryCancelled,
                            std::string(object.GetName()));
        return std::nullopt;
    }
    const std::uint64_t size = SizeBy(answer.method, object, answer.customBytes);
    RememberSizeChoice(answer, object, size);
    return size;
}

platform::OutputFolder* CRecovery::TargetFolder(const filesystems::FoundObject& object,
                                                int& error) {
    const auto folders = SourceVolume->FoundObjectTree->GetFolderNames(object);
    // Only the folders of the current path stay open: objects come folder by folder, and a
    // volume of many folders must not run out of descriptors.
    std::size_t same = 0;
    while (same < openPath_.size() && same < folders.names.size() &&
           openPath_[same].first == folders.names[same]) {
        ++same;
    }
    openPath_.resize(same);
    // Folders are opened one name at a time below the destination, never through a link:
    // a name from the volume is cleaned, and one taken by a file gets a number.
    platform::OutputFolder* folder = same == 0 ? output_.get() : openPath_.back().second.get();
    for (std::size_t i = same; i < folders.names.size(); ++i) {
        const std::string clean = CleanComponent(folders.names[i]);
        std::unique_ptr<platform::OutputFolder> child;
        error = 0;
        for (unsigned n = 1; !child && n < kMaxNumberedNames; ++n) {
            child = folder->Child(n == 1 ? clean : NumberedName(clean, n));
            error = child ? 0 : errno;
            if (error != 0 && error != ENOTDIR)
                break;
        }
        if (!child) {
            computer_.Log().LogErrorMessage(StringId::CantCreateFolder,
                                            (folder->Path() / clean).string());
            computer_.Log().LogError("%s", std::string(std::strerror(error)));
            return nullptr;
        }
        folder = child.get();
        openPath_.emplace_back(folders.names[i], std::move(child));
    }
    return folder;
}

bool CRecovery::StopWhenFull(int error) {
    if (error != ENOSPC && error != EDQUOT)
        return false;
    computer_.Log().LogError("FileRecovery: the destination is full");
    DestinationFull = true;
    RecoveryRunning = false;
    return true;
}

FileOutcome CRecovery::RecoverObject(const filesystems::FoundObject& object) {
    core::CLog& log = computer_.Log();
    const auto fail = [&](FileOutcome outcome = FileOutcome::Failed) {
        Results.push_back({&object, {}, outcome, 0});
        return outcome;
    };
    if (SourceVolume == nullptr || !output_)
        return fail();
    // A working copy: a size settled below does not change the listed object.
    filesystems::FoundObject copy = object;
    const std::string name = CleanComponent(object.GetName());
    platform::OutputFolder* folder = nullptr;
    int folderError = 0;
    try {
        folder = TargetFolder(object, folderError);
    } catch (const std::exception& e) {
        log.LogError("Recovery_Thread.except0: %s", e.what());
        return fail();
    }
    if (folder == nullptr)
        return fail(StopWhenFull(folderError) ? FileOutcome::NotWritten : FileOutcome::Failed);
    if (object.Is(ObjectFlags::ExtentToNext)) {
        const auto size = SettleSize(object);
        if (!size)
            return fail();
        copy.Size = *size;
        // An estimate that runs past the end of the volume ends there: there is nothing to
        // read beyond it, and refusing the whole file would lose what is there. A size the
        // file system gives stays: a fragmented file may start near the end.
        const std::uint64_t end = SourceVolume->VolumeSize();
        if (copy.Start < end && copy.Size != filesystems::kUnknownSize &&
            copy.Size > end - copy.Start)
            copy.Size = end - copy.Start;
    }
    if (copy.Size == filesystems::kUnknownSize) {
        log.LogErrorMessage(StringId::RecoverySkipped, name);
        return fail();
    }
    const std::string listedPath = SourceVolume->FoundObjectTree->GetFolderPath(object);
    log.LogMessage(StringId::RecoveringFile, name, listedPath, folder->Path().string());
    auto part = PartFile::Create(*folder);
    if (!part) {
        const int error = errno;
        log.LogErrorMessage(StringId::RecoveryCreateFileFailed, (folder->Path() / name).string());
        return fail(StopWhenFull(error) ? FileOutcome::NotWritten : FileOutcome::Failed);
    }
    CurrentPart current(partMutex_, part_, part.get());
    listed_ = &object;
    const Copy result = FileRecovery(copy, *part);
    listed_ = nullptr;
    return Conclude(object, copy, result, *part, *folder, name);
}

FileOutcome CRecovery::Conclude(const filesystems::FoundObject& listed,
                                const filesystems::FoundObject& object, const Copy& copy,
                                PartFile& part, platform::OutputFolder& folder,
                                const std::string& name) {
    core::CLog& log = computer_.Log();
    const std::string target = (folder.Path() / name).string();
    FileResult result{&listed, {}, FileOutcome::Failed, copy.damage.unreadableSectors};
    using End = Copy::End;
    switch (copy.end) {
        case End::Whole:
            if (copy.damage.NothingReadable()) {
                log.LogError("FileRecovery: no sector of '%s' could be read", target);
                result.outcome = FileOutcome::Failed;
            } else if (copy.damage.endGuessed) {
                log.LogError(
                    "FileRecovery: '%s' is incomplete: its clusters end before its size and "
                    "the rest was taken from the clusters that follow",
                    target);
                result.outcome = FileOutcome::Incomplete;
            } else if (copy.damage.unreadableSectors != 0) {
                log.LogError(
                    "FileRecovery: '%s' recovered with %I64u unreadable sectors (written "
                    "as zeros)",
                    target, static_cast<unsigned long long>(copy.damage.unreadableSectors));
                result.outcome = FileOutcome::RecoveredWithUnreadableSectors;
            } else {
                result.outcome = FileOutcome::Recovered;
            }
            break;
        case End::ReadStopped:
            if (copy.bytes == 0) {
                log.LogErrorMessage(StringId::RecoveryZeroSize, target);
            } else {
                log.LogError(
                    "FileRecovery: '%s' is incomplete: reading stopped after %I64u of "
                    "%I64u bytes",
                    target, static_cast<unsigned long long>(copy.bytes),
                    static_cast<unsigned long long>(object.Size));
                result.outcome = FileOutcome::Incomplete;
            }
            break;
        case End::Full:
            log.LogError("FileRecovery: '%s' was not written", target);
            StopWhenFull(ENOSPC);
            result.outcome = FileOutcome::NotWritten;
            break;
        case End::Aborted:
            result.outcome = FileOutcome::NotWritten;
            break;
        case End::TooLarge:
            log.LogError(
                "FileRecovery: the destination's file system cannot hold '%s' "
                "(%I64u bytes)",
                target, static_cast<unsigned long long>(object.Size));
            break;
        case End::OutOfBounds:
            log.LogError(
                "FileRecovery: '%s' does not fit the volume: it starts at byte %I64u "
                "and holds %I64u bytes of a volume of %I64u",
                target, object.Start, object.Size, SourceVolume->VolumeSize());
            break;
        case End::WriteFailed:
            break;
    }
    const bool keep = result.outcome == FileOutcome::Recovered ||
                      result.outcome == FileOutcome::RecoveredWithUnreadableSectors ||
                      result.outcome == FileOutcome::Incomplete;
    if (!keep) {
        part.Discard();
        Results.push_back(result);
        return result.outcome;
    }
    if (object.Created != 0 || object.Modified != 0)
        part.SetTimes(object.Accessed, object.Modified);
    // Some file systems (network, FUSE) report a full disk or a failed write only here.
    if (const int error = part.Close(); error != 0) {
        log.LogErrorMessage(StringId::RecoveryWriteSystemError, error);
        part.Discard();
        result.outcome = StopWhenFull(error) ? FileOutcome::NotWritten : FileOutcome::Failed;
        Results.push_back(result);
        return result.outcome;
    }
    const FileOutcome placed = PlaceFile(part, folder, name, result.path);
    if (placed == FileOutcome::Failed) {
        result.outcome = placed;
    } else if (placed == FileOutcome::AlreadyRecovered) {
        // The same bytes were written before; a damaged file stays reported as damaged.
        if (result.outcome == FileOutcome::Recovered)
            result.outcome = placed;
    } else {
        ++RecoveredCount;
        RecoveredBytes += copy.bytes;
    }
    Results.push_back(result);
    return result.outcome;
}

FileOutcome CRecovery::PlaceFile(PartFile& part, platform::OutputFolder& folder,
                                 const std::string& name, std::filesystem::path& placedAt) {
    core::CLog& log = computer_.Log();
    for (unsigned n = 1; n < kMaxNumberedNames; ++n) {
        const std::string candidate = n == 1 ? name : NumberedName(name, n);
        const std::filesystem::path path = folder.Path() / candidate;
        if (writtenThisRun_.count(path) != 0)
            continue;
        switch (part.Place(candidate)) {
            case PartFile::Placed::Done:
                writtenThisRun_.insert(path);
                LastFilePath = placedAt = path;
                return FileOutcome::Recovered;
            case PartFile::Placed::SameFileExists:
                writtenThisRun_.insert(path);
                LastFilePath = placedAt = path;
                log.LogText("FileRecovery: '" + path.string() + "' was recovered before", 4);
                return FileOutcome::AlreadyRecovered;
            case PartFile::Placed::NameTaken:
                if (n == 1)
                    log.LogError("File: %s exists", path.string());
                continue;
            case PartFile::Placed::Failed:
                log.LogErrorMessage(StringId::RecoveryCreateFileFailed, path.string());
                return FileOutcome::Failed;
        }
    }
    return FileOutcome::Failed;
}

CRecovery::Copy CRecovery::FileRecovery(const filesystems::FoundObject& object, PartFile& part) {
    core::CLog& log = computer_.Log();
    Copy copy;
    filesystems::FoundObjectStream stream(*SourceVolume, &object);
    if (stream.CheckBounds() != 0) {
        copy.end = Copy::End::OutOfBounds;
        return copy;
    }
    const std::uint64_t size = object.Size;
    auto window = computer_.App().MainWindow();
    try {
        while (copy.bytes < size) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - copy.bytes, kBlockBytes));
            stream.SeekTo(copy.bytes);
            const std::uint32_t got = stream.Read(std::span(copyBuffer_).first(want));
            if (got != want) {
                log.LogErrorMessage(StringId::RecoveryReadError, static_cast<int>(got),
                                    static_cast<int>(want));
                copy.end = Copy::End::ReadStopped;
                break;
            }
            std::size_t put = 0;
            const int code = part.Write(std::span(copyBuffer_).first(got), put);
            // The position moves by what reached the file, never by what was read.
            copy.bytes += put;
            if (code != 0) {
                log.LogErrorMessage(StringId::RecoveryWriteSystemError, code);
                if (put != got) {
                    log.LogErrorMessage(StringId::RecoveryWriteError, static_cast<int>(put),
                                        static_cast<int>(got));
                }
                copy.end = code == ENOSPC || code == EDQUOT ? Copy::End::Full
                           : code == EFBIG                  ? Copy::End::TooLarge
                                                            : Copy::End::WriteFailed;
                break;
            }
            const std::uint64_t position = copy.bytes - put;
            FilePercent = (position != 0 && size / 100 != 0)
                              ? static_cast<std::uint32_t>(position / (size / 100))
                              : 0;
            if (window) {
                // The listed object, which the views know, not the working copy.
                const auto* shown = listed_ != nullptr ? listed_ : &object;
                window->Post({WM_RECOVERY_PROGRESS,
                              reinterpret_cast<std::uintptr_t>(shown),
                              FilePercent.load(),
                              {}});
            }
            // A stop keeps a file whose last block is written; the rest are discarded.
            if (!RecoveryRunning && copy.bytes < size) {
                copy.end = Copy::End::Aborted;
                break;
            }
        }
    } catch (const std::exception& e) {
        log.LogError("Recovery_Thread.RecoveryCycle.except1: %s", e.what());
        copy.end = Copy::End::WriteFailed;
    }
    copy.damage = stream.Damage;
    FilePercent = 100;
    return copy;
}

}  // namespace duzez::recovery
