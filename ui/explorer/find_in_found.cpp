#include "ui/explorer/find_in_found.h"

#include <QChar>
#include <algorithm>
#include <limits>
#include <utility>

#include "filesystems/found_object_tree.h"
#include "platform/thread_priority.h"

namespace duzez::ui {

using filesystems::FoundObject;
using filesystems::ObjectFlags::Deleted;
using filesystems::ObjectFlags::Folder;

namespace {

constexpr char32_t kAnyRun = U'*';
constexpr char32_t kAnyOne = U'?';
// Stray bytes decode above the last code point, so they only ever equal themselves.
constexpr char32_t kStrayByte = 0x110000;

constexpr std::uint64_t kFileTimeTicksPerSecond = 10'000'000;
constexpr std::uint64_t kFileTimeTicksPerDay = kFileTimeTicksPerSecond * 86'400;

// One character of UTF-8 text at `at`, advancing past it.
char32_t NextCharacter(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    }
    if (length == 0 || at + length > text.size()) {
        ++at;
        return kStrayByte + lead;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kStrayByte + lead;
        }
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are not characters.
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++at;
        return kStrayByte + lead;
    }
    at += length;
    return value;
}

std::u32string Characters(std::string_view text, bool fold) {
    std::u32string characters;
    characters.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = NextCharacter(text, at);
        characters.push_back(fold && c < kStrayByte ? QChar::toCaseFolded(c) : c);
    }
    return characters;
}

// Whether the '*'-free `piece` matches `name` at `at`.
bool PieceMatchesAt(std::u32string_view piece, std::u32string_view name, std::size_t at) {
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] != kAnyOne && piece[i] != name[at + i])
            return false;
    }
    return true;
}

bool Matches(std::u32string_view pattern, std::u32string_view name) {
    const std::size_t firstStar = pattern.find(kAnyRun);
    if (firstStar == std::u32string_view::npos)
        return pattern.size() == name.size() && PieceMatchesAt(pattern, name, 0);
    // The parts before the first '*' and after the last are anchored; those between are
    // taken at their leftmost place, which never loses a match and never backtracks.
    const std::size_t lastStar = pattern.rfind(kAnyRun);
    const std::u32string_view head = pattern.substr(0, firstStar);
    const std::u32string_view tail = pattern.substr(lastStar + 1);
    if (head.size() + tail.size() > name.size())
        return false;
    if (!PieceMatchesAt(head, name, 0) || !PieceMatchesAt(tail, name, name.size() - tail.size()))
        return false;
    std::size_t at = head.size();
    const std::size_t end = name.size() - tail.size();
    std::size_t from = firstStar + 1;
    while (from < lastStar) {
        std::size_t star = pattern.find(kAnyRun, from);
        const std::u32string_view piece = pattern.substr(from, star - from);
        from = star + 1;
        if (piece.empty())
            continue;
        while (true) {
            if (end - at < piece.size())
                return false;
            if (PieceMatchesAt(piece, name, at))
                break;
            ++at;
        }
        at += piece.size();
    }
    return true;
}

std::uint64_t SaturatingMultiply(std::uint64_t value, std::uint64_t factor) {
    if (value > std::numeric_limits<std::uint64_t>::max() / factor)
        return std::numeric_limits<std::uint64_t>::max();
    return value * factor;
}

std::uint64_t UnitBytes(FindCriteria::Unit unit) {
    switch (unit) {
        case FindCriteria::Unit::Bytes:
            return 1;
        case FindCriteria::Unit::Kilobytes:
            return 1024;
        case FindCriteria::Unit::Megabytes:
            return 1024 * 1024;
        case FindCriteria::Unit::Gigabytes:
            return 1024 * 1024 * 1024;
    }
    return 1;
}

bool SizeMatches(std::uint64_t size, const FindCriteria& criteria) {
    if (size == filesystems::kUnknownSize)
        return true;
    switch (criteria.size) {
        case FindCriteria::Size::DontRemember:
            return true;
        case FindCriteria::Size::Small:
            return size < 102'400;
        case FindCriteria::Size::Medium:
            return size < 1'048'576;
        case FindCriteria::Size::Large:
            return size > 1'048'576;
        case FindCriteria::Size::Specified: {
            const std::uint64_t bytes =
                SaturatingMultiply(criteria.sizeValue, UnitBytes(criteria.unit));
            switch (criteria.comparison) {
                case FindCriteria::Comparison::Equal:
                    return size == bytes;
                case FindCriteria::Comparison::Greater:
                    return size > bytes;
                case FindCriteria::Comparison::Less:
                    return size < bytes;
            }
        }
    }
    return true;
}

bool DateMatches(std::uint64_t modified, const FindCriteria& criteria, std::uint64_t now) {
    const auto since = [&](std::uint64_t days) {
        const std::uint64_t back = days * kFileTimeTicksPerDay;
        return modified != 0 && modified >= (now > back ? now - back : 0);
    };
    switch (criteria.modified) {
        case FindCriteria::When::DontRemember:
            return true;
        case FindCriteria::When::PastWeek:
            return since(7);
        case FindCriteria::When::PastMonth:
            return since(28);
        case FindCriteria::When::PastYear:
            return since(365);
        case FindCriteria::When::Between:
            return modified != 0 && modified >= criteria.modifiedFrom &&
                   modified <= criteria.modifiedTo;
    }
    return true;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase) {
    if (pattern.empty())
        pattern = "*";
    return Matches(Characters(pattern, ignoreCase), Characters(name, ignoreCase));
}

std::uint64_t FileTimeOf(std::chrono::system_clock::time_point when) {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    constexpr std::int64_t kUnixEpoch = 11'644'473'600LL * 10'000'000;
    const std::int64_t ticks =
        std::chrono::duration_cast<Ticks>(when.time_since_epoch()).count() + kUnixEpoch;
    return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 0;
}

bool MatchesCriteria(const FoundObject& object, const FindCriteria& criteria,
                     std::chrono::system_clock::time_point now) {
    if (criteria.deletedOnly && !object.Is(Deleted))
        return false;
    if (criteria.filesOnly && object.Is(Folder))
        return false;
    if (!SizeMatches(object.Size, criteria))
        return false;
    if (!DateMatches(object.Modified, criteria, FileTimeOf(now)))
        return false;
    return WildcardMatch(criteria.namePattern, object.GetName());
}

FindInFound::~FindInFound() {
    Cancel();
    Wait();
}

void FindInFound::Start(const filesystems::FoundObjectTree& tree, FindCriteria criteria) {
    Cancel();
    Wait();
    {
        std::lock_guard lock(resultsMutex_);
        results_.clear();
    }
    cancel_.store(false);
    outcome_.store(Outcome::Running);
    thread_ = std::thread(&FindInFound::Run, this, &tree, std::move(criteria),
                          std::chrono::system_clock::now());
}

void FindInFound::Cancel() {
    cancel_.store(true);
}

void FindInFound::Wait() {
    if (thread_.joinable())
        thread_.join();
}

std::vector<FoundObject*> FindInFound::TakeResults() {
    std::lock_guard lock(resultsMutex_);
    return std::exchange(results_, {});
}

void FindInFound::Run(const filesystems::FoundObjectTree* tree, FindCriteria criteria,
                      std::chrono::system_clock::time_point now) {
    platform::LowerCurrentThreadPriority();
    // Short batches keep the analysis from waiting on the lock for long.
    constexpr std::size_t kBatch = 256;
    const std::vector<FoundObject*> objects = tree->ListedObjects();
    std::vector<FoundObject*> found;
    bool matched = false;
    std::size_t next = 0;
    while (next < objects.size() && !cancel_.load(std::memory_order_relaxed)) {
        const std::size_t end = std::min(objects.size(), next + kBatch);
        {
            const auto lock = tree->ReadLock();
            for (; next < end && !cancel_.load(std::memory_order_relaxed); ++next) {
                FoundObject* object = objects[next];
                if (!object->IsSpecial() && MatchesCriteria(*object, criteria, now))
                    found.push_back(object);
            }
        }
        if (!found.empty()) {
            matched = true;
            std::lock_guard lock(resultsMutex_);
            results_.insert(results_.end(), found.begin(), found.end());
            found.clear();
        }
    }
    // Set last, so a window that sees the search over finds every result already handed.
    if (next < objects.size())
        outcome_.store(Outcome::Cancelled);
    else
        outcome_.store(matched ? Outcome::Matched : Outcome::NoMatch);
}

}  // namespace duzez::ui
