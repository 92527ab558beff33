#include "recovery/recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/log.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_stream.h"
#include "platform/file_times.h"
#include "platform/thread_priority.h"
#include "platform/unique_fd.h"

namespace duzez::recovery {
namespace {

using core::StringId;
namespace ObjectFlags = filesystems::ObjectFlags;

}  // namespace

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
    LastFilePath.clear();
    finished_ = false;
    thread_ = std::thread([this, destination, tryOpen] { Run(destination, tryOpen); });
}

void CRecovery::Wait() {
    if (thread_.joinable())
        thread_.join();
}

void CRecovery::Run(std::filesystem::path destination, bool tryOpen) {
    core::CLog& log = computer_.Log();
    if (!tryOpen && !CheckDestination(destination)) {
        log.LogMessage(StringId::RecoveryCompleted);
        finished_ = true;
        return;
    }
    platform::LowerCurrentThreadPriority();
    RecoveryRunning = true;
    for (CurrentIndex = 0; CurrentIndex < RecoveryList.size() && RecoveryRunning; ++CurrentIndex)
        RecoverObject(*RecoveryList[CurrentIndex], destination);
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

std::filesystem::path CRecovery::DistinctPath(const std::filesystem::path& wanted) const {
    std::filesystem::path path = wanted;
    for (int n = 2; writtenThisRun_.count(path) != 0; ++n) {
        path = wanted.parent_path() / (wanted.stem().string() + " (" + std::to_string(n) + ")" +
                                       wanted.extension().string());
    }
    return path;
}

bool CRecovery::CheckDestination(std::filesystem::path& path) {
    // The destination's file system must not lie on the drive being recovered from.
    while (computer_.DestinationOnSource(path, SourceVolume)) {
        const auto other =
            questions_ != nullptr ? questions_->AskOtherDestination(path) : std::nullopt;
        if (!other)
            return false;
        path = *other;
    }
    return true;
}

std::uint64_t CRecovery::SizeBy(SizeMethod method, const filesystems::FoundObject& object,
                                std::uint64_t customBytes) const {
    const auto* signature = computer_.Signatures().FindSignatureById(object.SignatureId);
    const std::uint64_t fallback = signature != nullptr
                                       ? std::uint64_t{signature->DefaultSize} * 1024
                                       : filesystems::kUnknownSize;
    auto& tree = *SourceVolume->FoundObjectTree;
    switch (method) {
        case SizeMethod::Default:
            return fallback;
        case SizeMethod::NextAny: {
            const auto* next = tree.NextAfterStart(object.Start);
            return next != nullptr ? next->Start - object.Start : fallback;
        }
        case SizeMethod::NextSame: {
            const auto* next = tree.NextOfSameType(object);
            return next != nullptr ? next->Start - object.Start : fallback;
        }
        case SizeMethod::Custom:
            return customBytes;
        case SizeMethod::None:
            break;
    }
    return filesystems::kUnknownSize;
}

std::optional<std::uint64_t> CRecovery::SettleSize(const filesystems::FoundObject& object) {
    core::CLog& log = computer_.Log();
    auto* signature = computer_.Signatures().FindSignatureById(object.SignatureId);
    if (SizeMethodForAll != 0) {
        const auto method = static_cast<SizeMethod>(SizeMethodForAll.load());
        return SizeBy(method, object, std::uint64_t(std::max(0, SizeKBForAll.load())) * 1024);
    }
    if (signature != nullptr && signature->SizeMethodForType != 0) {
        return SizeBy(static_cast<SizeMethod>(signature->SizeMethodForType.load()), object,
                      std::uint64_t{signature->DefaultSize} * 1024);
    }
    const SizeAnswer answer =
        questions_ != nullptr ? questions_->AskProbableSize(object) : SizeAnswer{};
    if (answer.result != SizeAnswer::Result::Ok) {
        log.LogErrorMessage(answer.result == SizeAnswer::Result::Skip ? StringId::RecoverySkipped
                                                                      : StringId::RecoveryCancelled,
                            std::string(object.GetName()));
        return std::nullopt;
    }
    const std::uint64_t size = SizeBy(answer.method, object, answer.customBytes);
    if (answer.scope == SizeScope::AnyType) {
        SizeMethodForAll = static_cast<std::uint32_t>(answer.method);
        if (answer.method == SizeMethod::Custom)
            SizeKBForAll = static_cast<std::int32_t>(size / 1024);
    } else if (answer.scope == SizeScope::ThisType && signature != nullptr) {
        signature->SizeMethodForType = static_cast<std::uint32_t>(answer.method);
        if (answer.method == SizeMethod::Custom)
            signature->DefaultSize = static_cast<std::uint32_t>(size / 1024);
    }
    return size;
}

std::uint64_t CRecovery::RecoverObject(const filesystems::FoundObject& object,
                                       std::filesystem::path root) {
    core::CLog& log = computer_.Log();
    if (SourceVolume == nullptr || !CheckDestination(root))
        return 0;
    // A working copy: a size settled below does not change the listed object.
    filesystems::FoundObject copy = object;
    // The folder path begins with '/' (or a drive letter); below the destination it is
    // relative.
    const std::string listedPath = SourceVolume->FoundObjectTree->GetFolderPath(object);
    std::string folderPath = listedPath;
    if (folderPath.size() > 1 && folderPath[1] == ':')
        folderPath.erase(0, 2);
    while (!folderPath.empty() && folderPath.front() == '/')
        folderPath.erase(0, 1);
    const std::filesystem::path target = root / folderPath;
    std::error_code ec;
    std::filesystem::create_directories(target, ec);
    if (!std::filesystem::is_directory(target, ec)) {
        log.LogErrorMessage(StringId::CantCreateFolder, target.string());
        return 0;
    }
    // Names come from the analysed volume: no component may climb out of the target.
    std::string name(object.GetName());
    for (char& c : name) {
        if (c == '/' || c == '\0')
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "_" + name;
    LastFilePath = DistinctPath(target / name);
    if (std::filesystem::exists(LastFilePath, ec)) {
        log.LogError("File: %s exists", LastFilePath.string());
    }
    if (object.Is(ObjectFlags::ExtentToNext)) {
        const auto size = SettleSize(object);
        if (!size)
            return 0;
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
        return 0;
    }
    log.LogMessage(StringId::RecoveringFile, name, listedPath, target.string());
    listed_ = &object;
    writtenThisRun_.insert(LastFilePath);
    const std::uint64_t result = FileRecovery(copy);
    listed_ = nullptr;
    if (result != 0)
        ++RecoveredCount;
    return result;
}

std::uint64_t CRecovery::FileRecovery(const filesystems::FoundObject& object) {
    core::CLog& log = computer_.Log();
    filesystems::FoundObjectStream stream(*SourceVolume, &object);
    if (stream.CheckBounds() != 0)
        return 0;
    platform::UniqueFd file(
        ::open(LastFilePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file) {
        log.LogErrorMessage(StringId::RecoveryCreateFileFailed, LastFilePath.string());
        return 0;
    }
    std::uint64_t position = 0;
    std::uint64_t written = 0;
    const std::uint64_t size = object.Size;
    auto window = computer_.App().MainWindow();
    while (position < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - position, kBlockBytes));
        stream.SeekTo(position);
        const std::uint32_t got = stream.Read(std::span(copyBuffer_).first(want));
        if (got != want) {
            log.LogErrorMessage(StringId::RecoveryReadError, static_cast<int>(got),
                                static_cast<int>(want));
            if (got == 0)
                break;
        }
        const ssize_t put = ::write(file.get(), copyBuffer_.data(), got);
        if (put < 0) {
            log.LogErrorMessage(StringId::RecoveryWriteSystemError, errno);
            break;
        }
        if (static_cast<std::size_t>(put) != got) {
            log.LogErrorMessage(StringId::RecoveryWriteError, static_cast<int>(put),
                                static_cast<int>(got));
        }
        written += static_cast<std::uint64_t>(put);
        RecoveredBytes += static_cast<std::uint64_t>(put);
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
        if (!RecoveryRunning)
            break;
        position += got;
    }
    FilePercent = 100;
    file.reset();
    if (object.Created != 0 || object.Modified != 0) {
        platform::SetFileTimes(LastFilePath, object.Accessed, object.Modified);
    }
    if (written == 0) {
        log.LogErrorMessage(StringId::RecoveryZeroSize, LastFilePath.string());
        std::error_code ec;
        std::filesystem::remove(LastFilePath, ec);
        return 0;
    }
    return position;
}

}  // namespace duzez::recovery
