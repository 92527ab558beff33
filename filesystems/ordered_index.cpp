#include "filesystems/ordered_index.h"

#include <algorithm>

namespace duzez::filesystems {

std::size_t OrderedIndex::BlockFor(const Entry& entry) const {
    const auto it = std::partition_point(blocks_.begin(), blocks_.end(), [&](const auto& block) {
        return Less(block.back(), entry);
    });
    return static_cast<std::size_t>(it - blocks_.begin());
}

void OrderedIndex::Insert(std::int64_t key, std::uint32_t slot) {
    const Entry entry{key, slot};
    if (blocks_.empty()) {
        // Blocks are never empty, so every block has a last entry to search by.
        blocks_.emplace_back();
        blocks_.back().reserve(kMaxBlock + 1);
        blocks_.back().push_back(entry);
        ++size_;
        return;
    }
    std::size_t b = BlockFor(entry);
    if (b == blocks_.size())
        b = blocks_.size() - 1;  // beyond every entry: the last block
    auto& block = blocks_[b];
    block.insert(std::lower_bound(block.begin(), block.end(), entry, Less), entry);
    ++size_;
    if (block.size() > kMaxBlock) {
        std::vector<Entry> upper;
        upper.reserve(kMaxBlock + 1);
        const auto middle = block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2);
        upper.assign(middle, block.end());
        block.erase(middle, block.end());
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    }
}

bool OrderedIndex::Erase(std::int64_t key, std::uint32_t slot) {
    const Entry entry{key, slot};
    const std::size_t b = BlockFor(entry);
    if (b == blocks_.size())
        return false;
    auto& block = blocks_[b];
    const auto it = std::lower_bound(block.begin(), block.end(), entry, Less);
    if (it == block.end() || it->key != key || it->slot != slot)
        return false;
    block.erase(it);
    --size_;
    if (block.empty())
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    return true;
}

void OrderedIndex::Clear() {
    blocks_.clear();
    size_ = 0;
}

std::optional<OrderedIndex::Entry> OrderedIndex::First(std::int64_t key) const {
    // The newest entry of a key has the largest slot, so it sorts first.
    const Entry probe{key, UINT32_MAX};
    const std::size_t b = BlockFor(probe);
    if (b == blocks_.size())
        return std::nullopt;
    const auto& block = blocks_[b];
    const auto it = std::lower_bound(block.begin(), block.end(), probe, Less);
    if (it == block.end() || it->key != key)
        return std::nullopt;
    return *it;
}

std::optional<OrderedIndex::Entry> OrderedIndex::After(const Entry& entry) const {
    const std::size_t b = BlockFor(entry);
    if (b == blocks_.size())
        return std::nullopt;
    const auto& block = blocks_[b];
    auto it = std::upper_bound(block.begin(), block.end(), entry, Less);
    if (it != block.end())
        return *it;
    if (b + 1 < blocks_.size())
        return blocks_[b + 1].front();
    return std::nullopt;
}

std::optional<OrderedIndex::Entry> OrderedIndex::Before(const Entry& entry) const {
    std::size_t b = BlockFor(entry);
    if (b == blocks_.size()) {
        if (blocks_.empty())
            return std::nullopt;
        return blocks_.back().back();
    }
    const auto& block = blocks_[b];
    const auto it = std::lower_bound(block.begin(), block.end(), entry, Less);
    if (it != block.begin())
        return *(it - 1);
    if (b > 0)
        return blocks_[b - 1].back();
    return std::nullopt;
}

}  // namespace duzez::filesystems
