// duzez-cli list: the file-system phase on a volume, and every folder and file it found.

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/list_table.h"
#include "cli/name_patterns.h"
#include "cli/session.h"
#include "cli/terminal_text.h"
#include "cli/terminal_width.h"
#include "cli/time_text.h"
#include "filesystems/found_object_tree.h"
#include "recovery/photo_verdicts.h"

namespace duzez::cli {
namespace {

constexpr const char* kListCutShort =
    "The analysis was stopped by Ctrl-C: only what it had found is listed.";

using devices::CVolume;
using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

struct ListArguments {
    std::string target;
    int volume = 0;
    int found = 0;
    bool deletedOnly = false;
    bool deep = false;
    bool json = false;
    bool bytes = false;
    std::string carvedNames = "capture";
    std::string sort = "path";
    std::vector<std::string> match;
    bool verdicts = false;
};

// One listed object, with what its part of the target says about it.
struct Listed {
    std::string path;
    const FoundObject* object = nullptr;
    std::uint64_t diskOffset = 0;  // where its volume starts on the disk
};

const char* StateText(const FoundObject& object) {
    if (object.Is(ObjectFlags::FoundBySignature))
        return "signature only";
    if (object.Is(ObjectFlags::Overwritten))
        return "overwritten";
    return object.Is(ObjectFlags::Deleted) ? "deleted" : "live";
}

std::string CheckText(const FoundObject& object) {
    std::string text;
    if (const auto verdict = recovery::VerdictOf(object);
        verdict != signatures::PhotoVerdict::Unchecked) {
        text = signatures::VerdictName(verdict);
    }
    if (object.InTwoPieces())
        text += text.empty() ? "rejoined" : ", rejoined";
    return text;
}

std::optional<std::uint64_t> SizeOf(const FoundObject& object) {
    if (object.Size == filesystems::kUnknownSize)
        return std::nullopt;
    return object.Size;
}

nlohmann::ordered_json Piece(std::uint64_t start, std::uint64_t size, std::uint64_t diskOffset) {
    return {{"start", start}, {"diskOffset", diskOffset + start}, {"size", size}};
}

// Where the object's bytes lie: one extent, or two for a photo rejoined from two pieces.
nlohmann::ordered_json Pieces(const Listed& listed) {
    const FoundObject& object = *listed.object;
    auto pieces = nlohmann::ordered_json::array();
    if (object.InTwoPieces()) {
        pieces.push_back(Piece(object.Start, object.FirstPieceSize, listed.diskOffset));
        pieces.push_back(
            Piece(object.SecondPieceStart, object.Size - object.FirstPieceSize, listed.diskOffset));
    } else if (const auto size = SizeOf(object); size && !object.Is(ObjectFlags::Folder)) {
        pieces.push_back(Piece(object.Start, *size, listed.diskOffset));
    }
    return pieces;
}

nlohmann::ordered_json ObjectJson(const Listed& listed) {
    const FoundObject& object = *listed.object;
    const bool utc = object.Is(ObjectFlags::UtcTimes);
    const auto size = SizeOf(object);
    return {{"path", listed.path},
            {"size", size ? nlohmann::ordered_json(*size) : nlohmann::ordered_json(nullptr)},
            {"state", StateText(object)},
            {"deleted", object.Is(ObjectFlags::Deleted)},
            {"overwritten", object.Is(ObjectFlags::Overwritten)},
            {"folder", object.Is(ObjectFlags::Folder)},
            {"foundBySignature", object.Is(ObjectFlags::FoundBySignature)},
            {"verdict", signatures::VerdictName(recovery::VerdictOf(object))},
            {"timeZone", TimeBasisName(object)},
            {"created", IsoTime(object.Created, utc)},
            {"modified", IsoTime(object.Modified, utc)},
            {"accessed", IsoTime(object.Accessed, utc)},
            {"start", object.Start},
            {"diskOffset", listed.diskOffset + object.Start},
            {"pieces", Pieces(listed)}};
}

void SortListed(std::vector<Listed>& listed, const std::string& key) {
    const auto byPath = [](const Listed& a, const Listed& b) { return a.path < b.path; };
    if (key == "size") {
        // Largest first, as ls -S; an unknown size last.
        std::stable_sort(listed.begin(), listed.end(), [&](const Listed& a, const Listed& b) {
            const auto sa = SizeOf(*a.object).value_or(0);
            const auto sb = SizeOf(*b.object).value_or(0);
            return sa != sb ? sa > sb : byPath(a, b);
        });
    } else if (key == "date") {
        // Newest first, as ls -t.
        std::stable_sort(listed.begin(), listed.end(), [&](const Listed& a, const Listed& b) {
            return a.object->Modified != b.object->Modified
                       ? a.object->Modified > b.object->Modified
                       : byPath(a, b);
        });
    } else {
        std::stable_sort(listed.begin(), listed.end(), byPath);
    }
}

// "13 deleted files (21.4 MB) of 72 files in 4 folders".
std::string ClosingLine(const ListArguments& args, std::size_t shownFiles, std::uint64_t shownBytes,
                        std::size_t files, std::size_t folders) {
    const auto count = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string kind = args.deletedOnly ? "deleted " : "";
    if (!args.match.empty())
        kind += "matching ";
    std::string text =
        std::to_string(shownFiles) + " " + kind + (shownFiles == 1 ? "file" : "files");
    text += " (" + HumanSize(shownBytes) + ")";
    if (args.deletedOnly || !args.match.empty())
        text += " of " + count(files, "file", "files");
    return text + " in " + count(folders, "folder", "folders");
}

int ListVolume(const GlobalOptions& options, const ListArguments& args) {
    // Before any thread starts, so that every thread leaves Ctrl-C to it.
    InterruptWatch interrupts;
    Session session(options);
    const InterruptWatch::Handlers handlers(interrupts, [&session] { session.RequestStop(); });
    session.Computer().SetPhotosNamedByCapture(args.carvedNames != "offset");
    CVolume* volume = args.found != 0 ? OpenFoundVolume(session, args.target, args.found)
                                      : OpenTarget(session, args.target, args.volume, args.deep);
    if (volume == nullptr)
        return session.OpenFailure();
    const NamePatterns patterns(args.match);
    bool unlistable = false;  // a partition whose files could not be listed
    std::vector<Listed> listed;
    std::size_t files = 0;
    std::size_t folders = 0;
    // A whole disk: every partition, each under its own name.
    std::vector<VolumePart> parts =
        PartsOf(session, *volume, args.found != 0 ? args.found : args.volume);
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const VolumePart part = parts[index];  // a copy: the list may grow
        if (interrupts.Interrupted())
            break;  // stopped during an earlier part: what it found is listed, no more
        if (!part.analysed)
            AnalyseVolume(session, *part.volume, args.deep);
        unlistable = ReportUnlistablePart(part, args.deep) || unlistable;
        // A disk without a table: the volumes its scan found, by name.
        std::set<std::uint64_t> listedStarts;
        const std::vector<VolumePart> found =
            AnalyseFoundVolumes(session, part, args.deep, listedStarts);
        parts.insert(parts.end(), found.begin(), found.end());
        if (args.verdicts) {
            // Deleted and carved photos: the live ones are as good as the file system.
            std::vector<FoundObject*> photos;
            for (FoundObject* object : part.volume->FoundObjectTree->ListedObjects()) {
                if (object->Is(ObjectFlags::Deleted))
                    photos.push_back(object);
            }
            recovery::JudgePhotos(*part.volume, photos, &session.StopFlag());
        }
        const std::uint64_t diskOffset = PositionOnDisk(*part.volume);
        auto& tree = *part.volume->FoundObjectTree;
        for (const FoundObject* object : tree.ListedObjects()) {
            if (object == &part.volume->TreeNode || object == &tree.RootFolder() ||
                (object->Is(ObjectFlags::FoundBySignature) &&
                 listedStarts.count(object->Start) != 0)) {
                continue;
            }
            const bool folder = object->Is(ObjectFlags::Folder);
            ++(folder ? folders : files);
            if (args.deletedOnly && !object->Is(ObjectFlags::Deleted))
                continue;
            std::string path = ListedPath(part, *object);
            if (!patterns.Matches(object->GetName(), path))
                continue;
            listed.push_back({std::move(path), object, diskOffset});
        }
    }
    SortListed(listed, args.sort);
    std::size_t shownFiles = 0;
    std::size_t shownFolders = 0;
    std::uint64_t shownBytes = 0;
    for (const Listed& entry : listed) {
        if (entry.object->Is(ObjectFlags::Folder)) {
            ++shownFolders;
            continue;
        }
        ++shownFiles;
        shownBytes += SizeOf(*entry.object).value_or(0);
    }
    const std::string fileSystem = parts.size() == 1
                                       ? parts.front().volume->FileSystem->FileSystemName
                                       : std::to_string(parts.size()) + " partitions";
    if (args.json) {
        nlohmann::ordered_json objects = nlohmann::ordered_json::array();
        for (const Listed& entry : listed)
            objects.push_back(ObjectJson(entry));
        // "files" and "folders" count what is listed; the volume's totals stand apart.
        nlohmann::ordered_json document = {{"volume", volume->GetDisplayName()},
                                           {"fileSystem", fileSystem},
                                           {"files", shownFiles},
                                           {"folders", shownFolders},
                                           {"bytes", shownBytes},
                                           {"filesInVolume", files},
                                           {"foldersInVolume", folders},
                                           {"interrupted", interrupts.Interrupted()},
                                           {"objects", objects}};
        // Names are the disk's bytes: what is not UTF-8 becomes U+FFFD, not an abort.
        std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return SayIfInterrupted(interrupts, kListCutShort) || unlistable ? kDoneWithFailures
                                                                         : kDone;
    }
    std::vector<ListRow> rows;
    rows.reserve(listed.size());
    for (const Listed& entry : listed) {
        const FoundObject& object = *entry.object;
        rows.push_back({entry.path, SizeOf(object), object.Modified,
                        object.Is(ObjectFlags::UtcTimes), StateText(object), CheckText(object),
                        object.Start, object.Is(ObjectFlags::Folder)});
    }
    const TableStyle style{TerminalColumns(STDOUT_FILENO), args.bytes};
    std::fputs(FormatTable(rows, style).c_str(), stdout);
    std::printf("%s; %s (%s)\n", ClosingLine(args, shownFiles, shownBytes, files, folders).c_str(),
                TerminalText(volume->GetDisplayName()).c_str(), TerminalText(fileSystem).c_str());
    return SayIfInterrupted(interrupts, kListCutShort) || unlistable ? kDoneWithFailures : kDone;
}

}  // namespace

void AddListCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto args = std::make_shared<ListArguments>();
    CLI::App* list =
        app.add_subcommand("list", "List the folders and files of a volume, as ls -l does");
    list->add_option("TARGET", args->target, kTargetHelp)->required();
    list->add_option("--volume", args->volume, kVolumeHelp);
    list->add_option("--found", args->found, kFoundHelp);
    list->add_flag("--deleted-only", args->deletedOnly, "Only deleted folders and files");
    AddMatchOption(*list, args->match);
    list->add_flag("--deep", args->deep, "Also search every sector for files by their signatures");
    list->add_option("--sort", args->sort, "Order by path (the default), size or date")
        ->check(CLI::IsMember({"path", "size", "date"}));
    list->add_flag("--bytes", args->bytes, "Sizes in bytes, not kB, MB and GB");
    list->add_flag("--json", args->json, "One JSON document on stdout");
    list->add_flag("--verdicts", args->verdicts,
                   "Check every deleted or carved photo (JPEG, PNG, GIF, TIFF, RAW): intact, "
                   "truncated or damaged; reads each one");
    list->add_option("--carved-names", args->carvedNames,
                     "Names of photos found by their signatures: capture (EXIF date, time and "
                     "camera) or offset")
        ->check(CLI::IsMember({"capture", "offset"}));
    list->callback([&body, &options, args] {
        body = [&options, args] { return ListVolume(options, *args); };
    });
}

}  // namespace duzez::cli
