#pragma once

// Work over many independent items (photos to judge or rejoin) shared by a few threads,
// this one among them, each taking the next item as it finishes one.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace duzez::core {

// Runs work(i) for every i below `count` on up to four threads; returns once all are done,
// or, leaving the rest undone, once `stopRequested` says so.
template <typename Work>
void ShareWork(std::size_t count, const Work& work, const std::function<bool()>& stopRequested) {
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            if (stopRequested && stopRequested())
                return;
            work(i);
        }
    };
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::jthread> threads;
    for (unsigned n = 1; n < std::min<std::size_t>(workers, count); ++n)
        threads.emplace_back(worker);
    worker();
}

}  // namespace duzez::core
