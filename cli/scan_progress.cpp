#include "cli/scan_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cli/human_units.h"
#include "cli/terminal_text.h"
#include "cli/terminal_width.h"
#include "devices/volume.h"
#include "filesystems/found_object_tree.h"

namespace duzez::cli {
namespace {

using Clock = std::chrono::steady_clock;

// "jpg" from "IMG_0001.JPG"; empty when the name has no short, plain extension.
std::string PlainExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot - 1 > 5 ||
        dot + 1 == name.size()) {
        return {};
    }
    std::string extension;
    for (const char c : name.substr(dot + 1)) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0)
            return {};
        extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

}  // namespace

std::string TimeText(double elapsed, std::optional<double> left) {
    std::string text = "elapsed " + ClockText(elapsed);
    if (left)
        text += ", left " + ClockText(*left);
    return text;
}

std::string FirstThatFits(const std::vector<std::string>& candidates, std::size_t columns) {
    for (const std::string& candidate : candidates) {
        if (ColumnsOf(candidate) <= columns)
            return candidate;
    }
    return candidates.empty() ? std::string() : FitColumns(candidates.back(), columns);
}

ProgressLine::ProgressLine() : terminal_(::isatty(STDERR_FILENO) != 0) {}

ProgressLine::~ProgressLine() {
    Clear();
}

std::size_t ProgressLine::Room() const {
    // A line as wide as the terminal would leave the cursor waiting to wrap; one column
    // short, the next "\r" always returns to this line.
    return std::max<std::size_t>(TerminalColumns(STDERR_FILENO).value_or(80), 2) - 1;
}

void ProgressLine::Draw(const std::string& text) {
    if (!terminal_)
        return;
    // One write per redraw: the line never shows half of two states.
    const std::string frame = "\r\033[K" + FitColumns(text, Room());
    std::fwrite(frame.data(), 1, frame.size(), stderr);
    drawn_ = true;
}

void ProgressLine::End(const std::string& text) {
    if (!terminal_)
        return;
    Draw(text);
    std::fputc('\n', stderr);
    drawn_ = false;
}

void ProgressLine::Clear() {
    if (!drawn_)
        return;
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

FoundTally::FoundTally(const filesystems::FoundObjectTree& tree)
    : tree_(tree), seen_(tree.ListedObjects().size()), objectCount_(tree.ObjectCount()) {}

void FoundTally::Update(Clock::time_point now, bool force) {
    if (now < due_ && !force)
        return;
    due_ = now + std::chrono::milliseconds(250);
    const std::size_t count = tree_.ObjectCount();
    if (count == objectCount_)
        return;
    objectCount_ = count;
    const auto before = Clock::now();
    const std::vector<filesystems::FoundObject*> listed = tree_.ListedObjects();
    // The copy holds the scan's additions back while it runs: a long list is read less
    // often, so that it costs the scan at most about one percent.
    due_ = std::max(due_, now + (Clock::now() - before) * 100);
    std::vector<std::pair<std::int32_t, std::string>> fresh;
    {
        // Flags and types of listed objects may still change, under the tree's lock.
        const auto lock = tree_.ReadLock();
        for (std::size_t i = seen_; i < listed.size(); ++i) {
            const filesystems::FoundObject& object = *listed[i];
            if (object.Is(filesystems::ObjectFlags::Folder) || object.IsSpecial())
                continue;
            fresh.emplace_back(object.SignatureId, PlainExtension(object.GetName()));
        }
    }
    seen_ = std::max(seen_, listed.size());
    for (const auto& [signatureId, extension] : fresh) {
        ++files_;
        std::string type = signatureId != 0 ? TypeOf(signatureId, extension) : extension;
        ++byType_[type.empty() ? "other" : type];
    }
}

std::string FoundTally::TypeOf(std::int32_t signatureId, std::string_view extension) {
    auto known = extensions_.find(signatureId);
    if (known == extensions_.end()) {
        std::string type;
        if (const auto* catalog = tree_.Catalog()) {
            if (const auto format = catalog->FindFormatById(signatureId))
                type = PlainExtension("." + format->firstExtension);
        }
        known = extensions_.emplace(signatureId, type).first;
    }
    return known->second.empty() ? std::string(extension) : known->second;
}

std::string FoundTally::ByType(std::size_t most) const {
    std::vector<std::pair<std::string, std::uint64_t>> types;
    std::uint64_t rest = 0;
    for (const auto& [type, count] : byType_) {
        if (type == "other")
            rest += count;
        else
            types.emplace_back(type, count);
    }
    std::stable_sort(types.begin(), types.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (i >= most) {
            rest += types[i].second;
            continue;
        }
        text += (text.empty() ? "" : ", ") + GroupedDigits(types[i].second) + " " +
                TerminalText(types[i].first);
    }
    if (rest != 0)
        text += (text.empty() ? "" : ", ") + GroupedDigits(rest) + " other";
    return text;
}

ScanProgress::ScanProgress(devices::CVolume& volume) : volume_(volume), start_(Clock::now()) {
    // The tree is read only for a person to see: without a terminal it is left alone.
    if (line_.Shown() && volume.VolumesOnly.load() == 0 && volume.FoundObjectTree)
        tally_.emplace(*volume.FoundObjectTree);
}

void ScanProgress::Follow(const std::atomic<bool>& running) {
    if (!line_.Shown())
        return;
    auto next = Clock::now();
    while (running) {
        const auto now = Clock::now();
        if (now >= next) {
            Draw(now, false);
            next = now + std::chrono::milliseconds(250);
        }
        // Short naps, so that the end of the scan is seen at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

void ScanProgress::Finish() {
    if (line_.Shown())
        Draw(Clock::now(), true);
}

void ScanProgress::Draw(Clock::time_point now, bool last) {
    const std::uint64_t end = volume_.ProgressEnd.load();
    const std::uint64_t position = std::min(volume_.ProgressPosition.load(), end);
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double bytes = static_cast<double>(position) * devices::CVolume::kSectorSize;
    const double rate = elapsed > 0 ? bytes / elapsed : 0;
    std::optional<double> left;
    if (!last && rate > 0)
        left = static_cast<double>(end - position) * devices::CVolume::kSectorSize / rate;
    if (tally_)
        tally_->Update(now, last);

    const std::string percent = std::string(last ? "scanned " : "scanning ") +
                                std::to_string(end != 0 ? position * 100 / end : 0) + "%";
    // No speed before the first block is read: "0 bytes/s" would only alarm.
    const std::string speed =
        position != 0 ? HumanSize(static_cast<std::uint64_t>(rate)) + "/s" : std::string();
    const std::string time = TimeText(elapsed, left);
    std::string found;
    std::string types;
    if (tally_) {
        found =
            GroupedDigits(tally_->Files()) + (tally_->Files() == 1 ? " file" : " files") + " found";
        types = tally_->ByType(6);
    }
    const auto join = [](std::initializer_list<std::string> parts) {
        std::string text;
        for (const std::string& part : parts) {
            if (!part.empty())
                text += (text.empty() ? "" : "  ") + part;
        }
        return text;
    };
    std::vector<std::string> candidates;
    if (!types.empty())
        candidates.push_back(join({percent, speed, time, found}) + " (" + types + ")");
    candidates.push_back(join({percent, speed, time, found}));
    candidates.push_back(join({percent, time, found}));
    candidates.push_back(join({percent, found}));
    candidates.push_back(percent);
    const std::string text = FirstThatFits(candidates, line_.Room());
    if (last)
        line_.End(text);
    else
        line_.Draw(text);
}

}  // namespace duzez::cli
