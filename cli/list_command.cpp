// duzez-cli list: the file-system phase on a volume, and every folder and file it found.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <iostream>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal_text.h"
#include "filesystems/found_object_tree.h"
#include "recovery/photo_verdicts.h"

namespace duzez::cli {
namespace {

using devices::CVolume;
using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

// FILETIME as "YYYY-MM-DD HH:MM:SS" (the file system's own time, no zone applied).
std::string TimeText(std::uint64_t fileTime) {
    if (fileTime == 0)
        return "";
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / 10000000ull) - 11644473600ll;
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (::gmtime_r(&when, &fields) == nullptr)
        return "";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

std::string FlagText(const FoundObject& object) {
    std::string text = object.Is(ObjectFlags::Deleted) ? "Deleted" : "Live";
    if (object.Is(ObjectFlags::Overwritten))
        text += ", overwritten";
    if (object.Is(ObjectFlags::Folder))
        text += ", folder";
    if (object.Is(ObjectFlags::FoundBySignature))
        text += ", found by signature";
    if (const auto verdict = recovery::VerdictOf(object);
        verdict != signatures::PhotoVerdict::Unchecked) {
        text += ", ";
        text += signatures::VerdictName(verdict);
    }
    if (object.InTwoPieces())
        text += ", rejoined from 2 pieces";
    return text;
}

// Where the object's bytes lie: one extent, or two for a photo rejoined from two pieces.
nlohmann::ordered_json Pieces(const FoundObject& object) {
    auto pieces = nlohmann::ordered_json::array();
    if (object.InTwoPieces()) {
        pieces.push_back({{"start", object.Start}, {"size", object.FirstPieceSize}});
        pieces.push_back(
            {{"start", object.SecondPieceStart}, {"size", object.Size - object.FirstPieceSize}});
    } else if (object.Size != filesystems::kUnknownSize) {
        pieces.push_back({{"start", object.Start}, {"size", object.Size}});
    }
    return pieces;
}

}  // namespace

namespace {

int ListVolume(const GlobalOptions& options, const std::string& target, int volumeNumber,
               int foundNumber, bool deletedOnly, bool deep, bool json, bool photosByCapture,
               bool verdicts) {
    Session session(options);
    session.Computer().SetPhotosNamedByCapture(photosByCapture);
    CVolume* volume = foundNumber != 0 ? OpenFoundVolume(session, target, foundNumber)
                                       : OpenTarget(session, target, volumeNumber, deep);
    if (volume == nullptr)
        return session.OpenFailure();
    bool unlistable = false;  // a partition whose files could not be listed
    nlohmann::ordered_json objects = nlohmann::ordered_json::array();
    std::size_t shown = 0;
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
    // A whole disk: every partition, each under its own name.
    std::vector<VolumePart> parts =
        PartsOf(session, *volume, foundNumber != 0 ? foundNumber : volumeNumber);
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const VolumePart part = parts[index];  // a copy: the list may grow
        if (!part.analysed)
            AnalyseVolume(session, *part.volume, deep);
        unlistable = ReportUnlistablePart(part, deep) || unlistable;
        // A disk without a table: the volumes its scan found, by name.
        std::set<std::uint64_t> listedStarts;
        const std::vector<VolumePart> found =
            AnalyseFoundVolumes(session, part, deep, listedStarts);
        parts.insert(parts.end(), found.begin(), found.end());
        if (verdicts) {
            // Deleted and carved photos: the live ones are as good as the file system.
            std::vector<FoundObject*> photos;
            for (FoundObject* object : part.volume->FoundObjectTree->ListedObjects()) {
                if (object->Is(ObjectFlags::Deleted))
                    photos.push_back(object);
            }
            recovery::JudgePhotos(*part.volume, photos, &session.StopFlag());
        }
        folders += part.volume->FoldersFound.load();
        files += part.volume->FilesFound.load();
        const std::string& prefix = part.folder;
        auto& tree = *part.volume->FoundObjectTree;
        for (const FoundObject* object : tree.ListedObjects()) {
            if (object == &part.volume->TreeNode || object == &tree.RootFolder() ||
                (object->Is(ObjectFlags::FoundBySignature) &&
                 listedStarts.count(object->Start) != 0)) {
                continue;
            }
            if (deletedOnly && !object->Is(ObjectFlags::Deleted))
                continue;
            const std::string folder = tree.GetFolderPath(*object);
            const std::string path = prefix +
                                     (prefix.empty() || folder.rfind('/', 0) == 0 ? "" : "/") +
                                     folder + std::string(object->GetName());
            ++shown;
            if (json) {
                objects.push_back(nlohmann::ordered_json{
                    {"path", path},
                    {"size", object->Size == filesystems::kUnknownSize
                                 ? nlohmann::ordered_json(nullptr)
                                 : nlohmann::ordered_json(object->Size)},
                    {"deleted", object->Is(ObjectFlags::Deleted)},
                    {"overwritten", object->Is(ObjectFlags::Overwritten)},
                    {"folder", object->Is(ObjectFlags::Folder)},
                    {"foundBySignature", object->Is(ObjectFlags::FoundBySignature)},
                    {"verdict", signatures::VerdictName(recovery::VerdictOf(*object))},
                    {"created", TimeText(object->Created)},
                    {"modified", TimeText(object->Modified)},
                    {"accessed", TimeText(object->Accessed)},
                    {"start", object->Start},
                    {"pieces", Pieces(*object)}});
            } else {
                // A placeholder folder or a carved file whose end is unknown has no size yet.
                const std::string size =
                    object->Size == filesystems::kUnknownSize ? "?" : std::to_string(object->Size);
                std::printf("%-60s %12s  %-24s %-19s  @%llu\n", TerminalText(path).c_str(),
                            size.c_str(), FlagText(*object).c_str(),
                            TimeText(object->Modified).c_str(),
                            static_cast<unsigned long long>(object->Start));
            }
        }
    }
    const std::string fileSystem = parts.size() == 1
                                       ? parts.front().volume->FileSystem->FileSystemName
                                       : std::to_string(parts.size()) + " partitions";
    if (json) {
        nlohmann::ordered_json document = {{"volume", volume->GetDisplayName()},
                                           {"fileSystem", fileSystem},
                                           {"folders", folders},
                                           {"files", files},
                                           {"objects", objects}};
        // Names are the disk's bytes: what is not UTF-8 becomes U+FFFD, not an abort.
        std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else {
        std::printf(
            "%zu objects; %llu folders and %llu files in the file system of %s (%s)\n", shown,
            static_cast<unsigned long long>(folders), static_cast<unsigned long long>(files),
            TerminalText(volume->GetDisplayName()).c_str(), TerminalText(fileSystem).c_str());
    }
    return unlistable ? kDoneWithFailures : kDone;
}

}  // namespace

void AddListCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    struct Arguments {
        std::string target;
        int volume = 0;
        int found = 0;
        bool deletedOnly = false;
        bool deep = false;
        bool json = false;
        std::string carvedNames = "capture";
        bool verdicts = false;
    };
    auto args = std::make_shared<Arguments>();
    CLI::App* list =
        app.add_subcommand("list", "List the folders and files of a volume's file system");
    list->add_option("TARGET", args->target, "#N from 'drives', a device or an image")->required();
    list->add_option("--volume", args->volume,
                     "The Nth partition of TARGET (from 1, as 'partitions' lists them)");
    list->add_option("--found", args->found,
                     "The Nth volume a search of every sector finds (from 1, as 'find-lost' "
                     "lists them): a lost partition");
    list->add_flag("--deleted-only", args->deletedOnly, "Only deleted folders and files");
    list->add_flag("--deep", args->deep, "Also search every sector for files by their signatures");
    list->add_flag("--json", args->json, "One JSON document on stdout");
    list->add_flag("--verdicts", args->verdicts,
                   "Check every deleted or carved photo (JPEG, PNG, GIF, TIFF, RAW): intact, "
                   "truncated or damaged; reads each one");
    list->add_option("--carved-names", args->carvedNames,
                     "Names of photos found by their signatures: capture (EXIF date, time and "
                     "camera) or offset")
        ->check(CLI::IsMember({"capture", "offset"}));
    list->callback([&body, &options, args] {
        body = [&options, args] {
            return ListVolume(options, args->target, args->volume, args->found, args->deletedOnly,
                              args->deep, args->json, args->carvedNames != "offset",
                              args->verdicts);
        };
    });
}

}  // namespace duzez::cli
