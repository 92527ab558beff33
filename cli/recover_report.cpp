#include "cli/recover_report.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <span>

#include "cli/time_text.h"
#include "core/work_share.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "filesystems/found_object_tree.h"
#include "platform/device_identity.h"
#include "platform/file_owner.h"
#include "platform/output_folder.h"
#include "platform/sha256.h"

namespace duzez::cli {
namespace {

namespace fs = std::filesystem;

std::string Shown(const fs::path& file) {
    return "the report " + file.string();
}

fs::path FolderOf(const fs::path& file) {
    return file.parent_path().empty() ? fs::path(".") : file.parent_path();
}

nlohmann::ordered_json PathOrNull(const fs::path& path) {
    if (path.empty())
        return nullptr;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).string();
}

}  // namespace

std::string ReportPathProblem(const fs::path& file, const std::string& target) {
    const std::string name = file.filename().string();
    if (file.empty() || name.empty() || name == "." || name == "..")
        return "--report needs the name of a file to write, not of a folder";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec)))
        return {};
    // TARGET given as a path: the report would be written over what is being read.
    if (!target.empty() && target[0] != '#' && fs::equivalent(file, target, ec)) {
        return Shown(file) +
               " is the drive or image being recovered from; write it to "
               "another drive";
    }
    return Shown(file) + " exists; a report never replaces a file: name a new one";
}

std::string ReportPlaceProblem(const fs::path& file, const devices::CLocalComputer& computer,
                               devices::CVolume& source) {
    // The rule the destination follows: nothing is written to the drive being read.
    if (platform::PathLiesOnSource(file, source.GetDevicePath(), computer.Roots().sys)) {
        return Shown(file) +
               " lies on the drive being recovered from; write it to another "
               "drive";
    }
    std::string error;
    if (!platform::OutputFolder::Open(FolderOf(file), error, platform::InvokingUser()))
        return Shown(file) + " cannot be written: " + error;
    return {};
}

RecoverReport::RecoverReport(fs::path file, nlohmann::ordered_json run)
    : file_(std::move(file)), run_(std::move(run)) {}

void RecoverReport::AddRun(const VolumePart& part, const recovery::CRecovery& engine) {
    std::map<const filesystems::FoundObject*, const recovery::FileResult*> results;
    for (const recovery::FileResult& result : engine.Results)
        results.emplace(result.object, &result);
    const std::size_t first = entries_.size();
    for (const filesystems::FoundObject* object : engine.RecoveryList) {
        const auto found = results.find(object);
        // An entry the run never reached (stopped, destination full) was not written.
        recovery::FileResult result{object, {}, recovery::FileOutcome::NotWritten, 0};
        if (found != results.end())
            result = *found->second;
        entries_.push_back({ListedPath(part, *object), result, std::nullopt});
    }
    // Read back now, while the files are fresh in the page cache. Not stopped by Ctrl-C:
    // what was written is checked before the report says so.
    core::ShareWork(entries_.size() - first,
                    [this, first](std::size_t i) {
                        Entry& entry = entries_[first + i];
                        if (!entry.result.path.empty())
                            entry.sha256 = platform::FileSha256(entry.result.path);
                    },
                    {});
}

nlohmann::ordered_json RecoverReport::EntryJson(const Entry& entry) const {
    const filesystems::FoundObject& object = *entry.result.object;
    nlohmann::ordered_json json = {{"volumePath", entry.volumePath}};
    const nlohmann::ordered_json shared = FileResultJson(entry.result);
    for (const auto& [key, value] : shared.items())
        json[key] = value;
    json["path"] = PathOrNull(entry.result.path);
    json["state"] = StateName(object);
    json["foundBySignature"] = object.Is(filesystems::ObjectFlags::FoundBySignature);
    json["size"] = object.Size == filesystems::kUnknownSize ? nlohmann::ordered_json(nullptr)
                                                            : nlohmann::ordered_json(object.Size);
    json["sha256"] = entry.sha256 ? nlohmann::ordered_json(*entry.sha256) : nullptr;
    return json;
}

std::string RecoverReport::Write(const nlohmann::ordered_json& summary) {
    nlohmann::ordered_json report = run_;
    report["finished"] = IsoTimeNow();
    report["summary"] = summary;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const Entry& entry : entries_)
        files.push_back(EntryJson(entry));
    report["files"] = std::move(files);
    // Names from a disk need not be UTF-8: replaced, never the reason a report is lost.
    const std::string text =
        report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    // Written under a temporary name and put in place whole, never over a file that
    // appeared meanwhile.
    std::string error;
    const auto folder =
        platform::OutputFolder::Open(FolderOf(file_), error, platform::InvokingUser());
    if (!folder)
        return Shown(file_) + " cannot be written: " + error;
    const auto part = platform::PartFile::Create(*folder);
    if (!part)
        return Shown(file_) + " cannot be written: " + std::strerror(errno);
    std::size_t written = 0;
    int code = part->Write(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), written);
    if (code == 0)
        code = part->Close();
    if (code != 0) {
        part->Discard();
        return Shown(file_) + " cannot be written: " + std::strerror(code);
    }
    switch (part->Place(file_.filename().string())) {
        case platform::PartFile::Placed::Done:
        case platform::PartFile::Placed::SameFileExists:
            return {};
        case platform::PartFile::Placed::NameTaken:
            return Shown(file_) + " appeared during the run and was left as it is";
        case platform::PartFile::Placed::Failed:
            break;
    }
    return Shown(file_) + " cannot be written: " + std::strerror(errno);
}

}  // namespace duzez::cli
