#include "cli/recover_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "cli/human_units.h"
#include "cli/terminal_text.h"

namespace duzez::cli {
namespace {

// The least room worth giving a name: less shows too little to recognise it.
constexpr std::size_t kLeastNameColumns = 12;

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        if (!part.empty())
            text += (text.empty() ? "" : "  ") + part;
    }
    return text;
}

}  // namespace

std::string RecoverProgressText(const RecoverFigures& f, std::size_t columns) {
    const bool byBytes = f.bytesTotal && *f.bytesTotal != 0;
    double share = 0;
    if (byBytes) {
        share = static_cast<double>(f.bytesDone) / static_cast<double>(*f.bytesTotal);
    } else if (f.files != 0) {
        // Sizes not all known: the files done tell the share.
        share = (static_cast<double>(std::min(f.index, f.files)) + f.fileShare) /
                static_cast<double>(f.files);
    }
    share = std::clamp(share, 0.0, 1.0);
    std::optional<double> left;
    if (share > 0 && f.elapsed > 0)
        left = f.elapsed * (1 - share) / share;

    const std::string percent = std::to_string(static_cast<int>(share * 100)) + "%";
    const std::string files = GroupedDigits(std::min(f.index + 1, f.files)) + " of " +
                              GroupedDigits(f.files) + (f.files == 1 ? " file" : " files");
    const std::string bytes =
        f.bytesTotal ? HumanSize(f.bytesDone) + " of " + HumanSize(*f.bytesTotal) : "";
    const std::string time = TimeText(f.elapsed, left);

    const std::string figures = Joined({percent, files, bytes, time});
    std::vector<std::string> candidates;
    if (const std::size_t used = ColumnsOf(figures) + 2;
        !f.name.empty() && used + kLeastNameColumns <= columns) {
        candidates.push_back(figures + "  " + FitColumns(TerminalText(f.name), columns - used));
    }
    candidates.push_back(figures);
    candidates.push_back(Joined({percent, files, time}));
    candidates.push_back(Joined({percent, files}));
    candidates.push_back(percent);
    return FirstThatFits(candidates, columns);
}

RecoverProgress::RecoverProgress(const recovery::CRecovery& engine) : engine_(engine) {
    if (!line_.Shown())
        return;
    std::uint64_t sum = 0;
    for (const filesystems::FoundObject* object : engine.RecoveryList) {
        const bool known = object->Size != filesystems::kUnknownSize;
        sizesKnown_ = sizesKnown_ && known;
        before_.push_back(sum);
        sizes_.push_back(known ? object->Size : 0);
        sum += sizes_.back();
    }
    before_.push_back(sum);
}

void RecoverProgress::Follow() {
    if (!line_.Shown())
        return;
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    // A run before this one may have left 100 behind.
    std::size_t lastIndex = sizes_.size();
    while (!engine_.Finished()) {
        const auto now = std::chrono::steady_clock::now();
        const std::size_t index = engine_.CurrentIndex.load();
        if (now < next || index >= sizes_.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            continue;
        }
        next = now + std::chrono::milliseconds(250);
        // The last file's 100 stands until the next one writes its first block.
        const std::uint32_t percent = engine_.FilePercent.load();
        const double fileShare =
            index != lastIndex && percent >= 100 ? 0.0 : std::min(percent, 100u) / 100.0;
        lastIndex = index;
        RecoverFigures figures;
        figures.index = index;
        figures.files = sizes_.size();
        figures.fileShare = fileShare;
        figures.bytesDone = before_[index] + static_cast<std::uint64_t>(
                                                 static_cast<double>(sizes_[index]) * fileShare);
        if (sizesKnown_)
            figures.bytesTotal = before_.back();
        figures.elapsed = std::chrono::duration<double>(now - start).count();
        figures.name = std::string(engine_.RecoveryList[index]->GetName());
        line_.Draw(RecoverProgressText(figures, line_.Room()));
    }
    line_.Clear();
}

}  // namespace duzez::cli
