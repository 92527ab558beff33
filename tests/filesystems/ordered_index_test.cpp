#include "filesystems/ordered_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace duzez::filesystems {
namespace {

// Against a reference: keys ascending, and within a key the newest (largest slot) first.
TEST(OrderedIndex, KeepsKeyOrderNewestFirstThroughSplitsAndErases) {
    OrderedIndex index;
    std::multimap<std::pair<std::int64_t, std::int64_t>, std::uint32_t> reference;
    std::mt19937 random(3);
    for (std::uint32_t slot = 0; slot < 20000; ++slot) {
        const std::int64_t key = static_cast<std::int64_t>(random() % 700) - 350;
        index.Insert(key, slot);
        reference.emplace(std::make_pair(key, -static_cast<std::int64_t>(slot)), slot);
        if (slot % 7 == 0) {
            const auto victim =
                std::next(reference.begin(), static_cast<long>(random() % reference.size()));
            ASSERT_TRUE(index.Erase(victim->first.first, victim->second));
            reference.erase(victim);
        }
    }
    ASSERT_EQ(index.Size(), reference.size());
    auto expected = reference.begin();
    index.ForEach([&](const OrderedIndex::Entry& entry) {
        ASSERT_EQ(entry.key, expected->first.first);
        ASSERT_EQ(entry.slot, expected->second);
        ++expected;
    });
    // Walking with After from First visits a key's entries newest first.
    const std::int64_t key = reference.begin()->first.first;
    std::vector<std::uint32_t> walked;
    for (auto e = index.First(key); e && e->key == key; e = index.After(*e))
        walked.push_back(e->slot);
    std::vector<std::uint32_t> wanted;
    for (auto it = reference.begin(); it != reference.end() && it->first.first == key; ++it) {
        wanted.push_back(it->second);
    }
    EXPECT_EQ(walked, wanted);
    EXPECT_FALSE(index.First(10000));
    EXPECT_FALSE(index.Erase(10000, 1));
}

TEST(OrderedIndex, NeighboursAcrossBlocks) {
    OrderedIndex index;
    for (std::uint32_t i = 0; i < 2000; ++i)
        index.Insert(i * 10, i);
    EXPECT_EQ(index.After({5, 0})->key, 10);
    EXPECT_EQ(index.Before({5, 0})->key, 0);
    EXPECT_EQ(index.Before({10, 1})->key, 0);
    EXPECT_EQ(index.After({19990, 1999}), std::nullopt);
    EXPECT_EQ(index.Before({0, 0}), std::nullopt);
    EXPECT_EQ(index.Before({99999, 0})->key, 19990);
    for (std::int64_t i = 0; i < 2000; ++i)
        ASSERT_EQ(index.After({i * 10 - 1, 0})->key, i * 10);
}

}  // namespace
}  // namespace duzez::filesystems
