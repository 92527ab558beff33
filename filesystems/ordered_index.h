#pragma once

// An ordered multimap from a signed 64-bit key to object slots, newest first within a key
// (slots grow with age, so a larger slot sorts first). Entries live in sorted blocks of a
// few hundred, which keeps an entry at 16 bytes plus slack instead of a tree node each.

#include <cstdint>
#include <optional>
#include <vector>

namespace duzez::filesystems {

class OrderedIndex {
  public:
    struct Entry {
        std::int64_t key;
        std::uint32_t slot;
    };

    void Insert(std::int64_t key, std::uint32_t slot);
    bool Erase(std::int64_t key, std::uint32_t slot);
    void Clear();
    std::size_t Size() const { return size_; }

    // The newest entry of `key`.
    std::optional<Entry> First(std::int64_t key) const;
    // The entry that follows or precedes `entry` in index order (any key); `entry` need
    // not be present.
    std::optional<Entry> After(const Entry& entry) const;
    std::optional<Entry> Before(const Entry& entry) const;

    template <typename Visit>
    void ForEach(Visit visit) const {
        for (const auto& block : blocks_) {
            for (const Entry& entry : block)
                visit(entry);
        }
    }

  private:
    static constexpr std::size_t kMaxBlock = 512;
    static bool Less(const Entry& a, const Entry& b) {
        return a.key < b.key || (a.key == b.key && a.slot > b.slot);
    }
    // First block whose last entry is not less than `entry`; blocks_.size() when none.
    std::size_t BlockFor(const Entry& entry) const;

    std::vector<std::vector<Entry>> blocks_;
    std::size_t size_ = 0;
};

}  // namespace duzez::filesystems
