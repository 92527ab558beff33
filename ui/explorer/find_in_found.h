#pragma once

// Searching the objects an analysis found on one volume: the find bar's criteria, the test
// of one object against them, and the search itself on a thread of its own.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "filesystems/found_object.h"

namespace duzez::filesystems {
class FoundObjectTree;
}

namespace duzez::ui {

struct FindCriteria {
    enum class When { DontRemember, PastWeek, PastMonth, PastYear, Between };
    enum class Size { DontRemember, Small, Medium, Large, Specified };
    enum class Comparison { Equal, Greater, Less };
    enum class Unit { Bytes, Kilobytes, Megabytes, Gigabytes };

    std::string namePattern;  // UTF-8, '*' and '?' wildcards; empty searches with "*"
    When modified = When::DontRemember;
    std::uint64_t modifiedFrom = 0;  // FILETIME bounds for When::Between, both included
    std::uint64_t modifiedTo = 0;
    Size size = Size::DontRemember;
    Comparison comparison = Comparison::Equal;  // for Size::Specified
    std::uint64_t sizeValue = 0;                // in `unit`, for Size::Specified
    Unit unit = Unit::Kilobytes;
    bool deletedOnly = false;
    bool filesOnly = false;

    bool operator==(const FindCriteria&) const = default;
};

// Whether `name` matches `pattern`: '*' any run of characters, '?' exactly one, anything
// else the same character (ignoring case unless asked not to). Characters are UTF-8 code points; a
// byte that is not part of a valid sequence is a character of its own that only matches itself.
// Time is at worst proportional to the product of the lengths, whatever the input.
bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase = true);

// `when` as FILETIME (100 ns since 1601); 0 before 1601.
std::uint64_t FileTimeOf(std::chrono::system_clock::time_point when);

// Whether `object` meets every criterion, the relative dates counted back from `now`.
// A size criterion only judges objects whose size is known: one of unknown size passes
// it, since carved files often have no size yet and are what a user hunts for. An object
// without a modification time (0) fails every date criterion but "don't remember".
bool MatchesCriteria(const filesystems::FoundObject& object, const FindCriteria& criteria,
                     std::chrono::system_clock::time_point now);

// Searches one volume's found objects on a thread at the lowest priority. Results are
// pointers into the tree, collected in a locked vector that the window drains on its timer.
//
// The tree is read under its read lock in short batches, so an analysis can go on adding;
// objects added after Start are not searched. The objects must stay alive while a search
// runs: before the volume is analysed again or its tree cleared, the caller must Cancel()
// and Wait(). Start, Cancel, Wait and TakeResults belong to one thread (the window's).
class FindInFound {
  public:
    enum class Outcome { Idle, Running, Matched, NoMatch, Cancelled };

    FindInFound() = default;
    ~FindInFound();
    FindInFound(const FindInFound&) = delete;
    FindInFound& operator=(const FindInFound&) = delete;

    // Ends any search under way, forgets its results and searches `tree` for `criteria`.
    void Start(const filesystems::FoundObjectTree& tree, FindCriteria criteria);
    // Asks the search to stop soon; Wait() then returns promptly.
    void Cancel();
    void Wait();
    bool Running() const { return outcome_.load() == Outcome::Running; }
    Outcome State() const { return outcome_.load(); }
    // The search ran to its end and found nothing: the window says "No files found".
    bool FinishedWithoutMatch() const { return outcome_.load() == Outcome::NoMatch; }
    // What was found since the last call. Once Running() is false, a last call has it all.
    std::vector<filesystems::FoundObject*> TakeResults();

  private:
    void Run(const filesystems::FoundObjectTree* tree, FindCriteria criteria,
             std::chrono::system_clock::time_point now);

    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<Outcome> outcome_{Outcome::Idle};
    std::mutex resultsMutex_;
    std::vector<filesystems::FoundObject*> results_;
};

}  // namespace duzez::ui
