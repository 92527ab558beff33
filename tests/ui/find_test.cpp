// The find bar and the search over found objects: the wildcard match, each criterion on
// objects made here, searches over a card analysed for real and over a large made tree,
// and the bar turning its controls into criteria.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <algorithm>
#include <deque>

#include "filesystems/fat/fat_layout.h"
#include "filesystems/found_object_tree.h"
#include "tests/ui/ui_machine.h"
#include "ui/explorer/find_bar.h"
#include "ui/explorer/find_in_found.h"
#include "ui/frame/commands.h"

namespace duzez::test {
namespace {

using namespace std::chrono_literals;
using filesystems::FoundObject;
using filesystems::kUnknownSize;
using ui::FindCriteria;
using ui::FindInFound;
using ui::WildcardMatch;
namespace Flags = filesystems::ObjectFlags;

const std::chrono::system_clock::time_point kNow =
    std::chrono::sys_days{std::chrono::year{2024} / 5 / 15} + 13h + 7min;

FoundObject Made(std::string_view name, std::uint64_t size = 1000, std::uint64_t modified = 0,
                 std::uint16_t flags = Flags::IsFile) {
    FoundObject object;
    object.Id = 100;
    object.Size = size;
    object.Modified = modified;
    object.Flags = flags;
    object.SetName(name);
    return object;
}

bool Matches(const FoundObject& object, const FindCriteria& criteria) {
    return ui::MatchesCriteria(object, criteria, kNow);
}

TEST(FindWildcard, MatchesTheTable) {
    struct Case {
        std::string_view pattern;
        std::string_view name;
        bool matches;
    };
    const Case cases[] = {
        // An empty pattern is "*".
        {"", "IMG_0001.JPG", true},
        {"", "", true},
        {"*", "", true},
        {"**", "x", true},
        {"?", "a", true},
        {"?", "", false},
        {"?", "ab", false},
        {"*?", "", false},
        {"*?", "x", true},
        {"IMG_000?.JPG", "IMG_0003.JPG", true},
        {"IMG_000?.JPG", "IMG_00031.JPG", false},
        {"*.JPG", "IMG_0001.JPG", true},
        {"*.JPG", "a.png", false},
        {"*.JPG", "JPG", false},
        {"abc", "abcd", false},
        {"abc", "ab", false},
        // Case does not count.
        {"*.jpg", "IMG_0001.JPG", true},
        {"img*", "IMG_1.jpg", true},
        {"ABC", "abc", true},
        {"*a*b", "xaxb", true},
        {"*a*b", "xbxa", false},
        {"a*b*c", "abc", true},
        {"a*b*c", "ac", false},
        {"a*b*c", "aXbYbZc", true},
        // The anchored ends and the middle parts may not share characters.
        {"ab*ba", "aba", false},
        {"ab*ba", "abba", true},
        {"*ab*ab*", "abab", true},
        {"*ab*ab*", "aba", false},
        {"*ab*ba", "aba", false},
        {"*ab*ba", "abba", true},
        {"a*bc*cd", "abcd", false},
        {"*a?c*", "xxabxaxc", true},
        // A '*' or '?' in a name is an ordinary character there.
        {"a?c", "a*c", true},
        {"a*c", "a?c", true},
        // '?' is one character, not one byte, and case folds beyond ASCII.
        {"?.jpg", "\xC3\xA9.jpg", true},
        {"\xC3\x89t\xC3\xA9*", "\xC3\xA9T\xC3\x89 2024.jpg", true},
        {"?", "\xE2\x82\xAC", true},
        {"??", "\xE2\x82\xAC", false},
        // Bytes that are not UTF-8 are characters that only match themselves.
        {"?", "\xFF", true},
        {"\xFF", "\xFF", true},
        {"\xFF", "\xFE", false},
        {"a?c",
         "a\xC3"
         "c",
         true},
        {"?", "\xC3\xA9\xFF", false},
        {"??", "\xC3\xA9\xFF", true},
        {"?", std::string_view("\0", 1), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches)
            << '"' << c.pattern << "\" against \"" << c.name << '"';
    }
}

TEST(FindWildcard, HostilePatternsAndNamesEndQuickly) {
    // Each case would take longer than the universe lasts with a backtracking match.
    const std::string manyA(200'000, 'a');
    std::string stars;
    for (int i = 0; i < 500; ++i)
        stars += "*a";
    EXPECT_FALSE(WildcardMatch(stars + "*b", manyA));
    EXPECT_TRUE(WildcardMatch(stars + "*b", manyA + "b"));
    EXPECT_FALSE(WildcardMatch(stars + "*b*", manyA));
    EXPECT_TRUE(WildcardMatch(stars + "*", manyA));
    EXPECT_FALSE(WildcardMatch(stars + "*", std::string(499, 'a')));
    EXPECT_FALSE(WildcardMatch("*" + std::string(300, 'a') + "b*", manyA));
    EXPECT_TRUE(WildcardMatch(std::string(50'000, '?'), std::string(50'000, '\xFF')));
    EXPECT_FALSE(WildcardMatch(std::string(50'000, '?'), std::string(49'999, 'x')));
    EXPECT_TRUE(WildcardMatch(std::string(100'000, '*'), manyA));
}

TEST(FindCriteria, EmptyCriteriaMatchEverything) {
    const FindCriteria any;
    EXPECT_TRUE(Matches(Made("IMG_0001.JPG"), any));
    EXPECT_TRUE(Matches(Made("DCIM", 0, 0, Flags::Folder), any));
    EXPECT_TRUE(Matches(Made("x", kUnknownSize, 0, Flags::Deleted), any));
}

TEST(FindCriteria, NameMustMatchThePattern) {
    FindCriteria criteria;
    criteria.namePattern = "*.jpg";
    EXPECT_TRUE(Matches(Made("IMG_0001.JPG"), criteria));
    EXPECT_FALSE(Matches(Made("notes.txt"), criteria));
    criteria.namePattern = "IMG_000?.*";
    EXPECT_TRUE(Matches(Made("img_0004.jpg"), criteria));
    EXPECT_FALSE(Matches(Made("IMG_0010.JPG"), criteria));
}

TEST(FindCriteria, RelativeDatesCountBackFromNow) {
    const std::pair<FindCriteria::When, std::chrono::hours> choices[] = {
        {FindCriteria::When::PastWeek, 7 * 24h},
        {FindCriteria::When::PastMonth, 28 * 24h},
        {FindCriteria::When::PastYear, 365 * 24h},
    };
    for (const auto& [when, back] : choices) {
        FindCriteria criteria;
        criteria.modified = when;
        const std::uint64_t edge = ui::FileTimeOf(kNow - back);
        const std::string label = std::to_string(back.count()) + " hours back";
        EXPECT_TRUE(Matches(Made("a", 1, edge), criteria)) << label;
        EXPECT_FALSE(Matches(Made("a", 1, edge - 1), criteria)) << label;
        EXPECT_TRUE(Matches(Made("a", 1, ui::FileTimeOf(kNow)), criteria)) << label;
        // Times a camera clock or a time zone put ahead of now still count.
        EXPECT_TRUE(Matches(Made("a", 1, ui::FileTimeOf(kNow + 5h)), criteria)) << label;
        // No modification time says nothing about when it was modified.
        EXPECT_FALSE(Matches(Made("a", 1, 0), criteria)) << label;
    }
    // The shorter ranges are inside the longer ones.
    const std::uint64_t tenDaysAgo = ui::FileTimeOf(kNow - 240h);
    FindCriteria criteria;
    criteria.modified = FindCriteria::When::PastWeek;
    EXPECT_FALSE(Matches(Made("a", 1, tenDaysAgo), criteria));
    criteria.modified = FindCriteria::When::PastMonth;
    EXPECT_TRUE(Matches(Made("a", 1, tenDaysAgo), criteria));
}

TEST(FindCriteria, SpecifiedDatesIncludeBothEnds) {
    FindCriteria criteria;
    criteria.modified = FindCriteria::When::Between;
    criteria.modifiedFrom = ui::FileTimeOf(kNow - 48h);
    criteria.modifiedTo = ui::FileTimeOf(kNow - 24h);
    EXPECT_TRUE(Matches(Made("a", 1, criteria.modifiedFrom), criteria));
    EXPECT_TRUE(Matches(Made("a", 1, criteria.modifiedTo), criteria));
    EXPECT_TRUE(Matches(Made("a", 1, ui::FileTimeOf(kNow - 30h)), criteria));
    EXPECT_FALSE(Matches(Made("a", 1, criteria.modifiedFrom - 1), criteria));
    EXPECT_FALSE(Matches(Made("a", 1, criteria.modifiedTo + 1), criteria));
    EXPECT_FALSE(Matches(Made("a", 1, 0), criteria));
}

TEST(FindCriteria, FileTimeCountsTenthsOfMicrosecondsSince1601) {
    EXPECT_EQ(ui::FileTimeOf(std::chrono::system_clock::time_point{}), 116'444'736'000'000'000u);
    EXPECT_EQ(ui::FileTimeOf(std::chrono::system_clock::time_point{} + 1s),
              116'444'736'010'000'000u);
    // The same count the card's directory entries are read into.
    const auto fatDate = static_cast<std::uint16_t>(((2024 - 1980) << 9) | (5 << 5) | 15);
    EXPECT_EQ(filesystems::fat::FatTimeToFileTime(fatDate, 0),
              ui::FileTimeOf(std::chrono::sys_days{std::chrono::year{2024} / 5 / 15}));
}

TEST(FindCriteria, SizeChoicesStopAtTheirThresholds) {
    struct Case {
        FindCriteria::Size choice;
        std::uint64_t size;
        bool matches;
    };
    const Case cases[] = {
        {FindCriteria::Size::Small, 0, true},
        {FindCriteria::Size::Small, 102'399, true},
        {FindCriteria::Size::Small, 102'400, false},
        {FindCriteria::Size::Medium, 102'400, true},
        {FindCriteria::Size::Medium, 1'048'575, true},
        {FindCriteria::Size::Medium, 1'048'576, false},
        {FindCriteria::Size::Large, 1'048'576, false},
        {FindCriteria::Size::Large, 1'048'577, true},
        {FindCriteria::Size::Large, 102'399, false},
        {FindCriteria::Size::DontRemember, 5'000'000'000, true},
    };
    for (const Case& c : cases) {
        FindCriteria criteria;
        criteria.size = c.choice;
        EXPECT_EQ(Matches(Made("a", c.size), criteria), c.matches)
            << static_cast<int>(c.choice) << " with " << c.size;
    }
}

TEST(FindCriteria, SpecifiedSizeIsTheValueTimesItsUnit) {
    struct Case {
        std::uint64_t value;
        FindCriteria::Unit unit;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {3, FindCriteria::Unit::Bytes, 3},
        {3, FindCriteria::Unit::Kilobytes, 3 * 1024},
        {3, FindCriteria::Unit::Megabytes, 3 * 1024 * 1024},
        {3, FindCriteria::Unit::Gigabytes, 3ull * 1024 * 1024 * 1024},
    };
    for (const Case& c : cases) {
        FindCriteria criteria;
        criteria.size = FindCriteria::Size::Specified;
        criteria.sizeValue = c.value;
        criteria.unit = c.unit;
        const std::string label = std::to_string(c.bytes) + " bytes";
        criteria.comparison = FindCriteria::Comparison::Equal;
        EXPECT_TRUE(Matches(Made("a", c.bytes), criteria)) << label;
        EXPECT_FALSE(Matches(Made("a", c.bytes - 1), criteria)) << label;
        EXPECT_FALSE(Matches(Made("a", c.bytes + 1), criteria)) << label;
        criteria.comparison = FindCriteria::Comparison::Greater;
        EXPECT_TRUE(Matches(Made("a", c.bytes + 1), criteria)) << label;
        EXPECT_FALSE(Matches(Made("a", c.bytes), criteria)) << label;
        criteria.comparison = FindCriteria::Comparison::Less;
        EXPECT_TRUE(Matches(Made("a", c.bytes - 1), criteria)) << label;
        EXPECT_FALSE(Matches(Made("a", c.bytes), criteria)) << label;
    }
    // A value too large for 64 bits stays the largest size rather than wrapping round.
    FindCriteria huge;
    huge.size = FindCriteria::Size::Specified;
    huge.sizeValue = std::uint64_t{1} << 40;
    huge.unit = FindCriteria::Unit::Gigabytes;
    huge.comparison = FindCriteria::Comparison::Less;
    EXPECT_TRUE(Matches(Made("a", 5'000'000'000), huge));
    huge.comparison = FindCriteria::Comparison::Greater;
    EXPECT_FALSE(Matches(Made("a", 5'000'000'000), huge));
}

TEST(FindCriteria, UnknownSizesPassEverySizeChoice) {
    const FoundObject unknown = Made("carved.jpg", kUnknownSize);
    for (const auto choice : {FindCriteria::Size::Small, FindCriteria::Size::Medium,
                              FindCriteria::Size::Large, FindCriteria::Size::Specified}) {
        for (const auto comparison :
             {FindCriteria::Comparison::Equal, FindCriteria::Comparison::Greater,
              FindCriteria::Comparison::Less}) {
            FindCriteria criteria;
            criteria.size = choice;
            criteria.comparison = comparison;
            criteria.sizeValue = 7;
            EXPECT_TRUE(Matches(unknown, criteria))
                << static_cast<int>(choice) << " " << static_cast<int>(comparison);
        }
    }
    // The other criteria still judge it.
    FindCriteria criteria;
    criteria.size = FindCriteria::Size::Small;
    criteria.namePattern = "*.png";
    EXPECT_FALSE(Matches(unknown, criteria));
}

TEST(FindCriteria, DeletedOnlyAndFilesOnly) {
    FindCriteria deleted;
    deleted.deletedOnly = true;
    EXPECT_TRUE(Matches(Made("_MG_0003.JPG", 1, 0, Flags::IsFile | Flags::Deleted), deleted));
    EXPECT_FALSE(Matches(Made("IMG_0001.JPG", 1, 0, Flags::IsFile), deleted));
    // A live folder that only holds something deleted is not deleted itself.
    EXPECT_FALSE(Matches(Made("100CANON", 0, 0, Flags::Folder | Flags::HasDeleted), deleted));
    EXPECT_TRUE(Matches(Made("OLD", 0, 0, Flags::Folder | Flags::Deleted), deleted));

    FindCriteria files;
    files.filesOnly = true;
    EXPECT_FALSE(Matches(Made("DCIM", 0, 0, Flags::Folder), files));
    EXPECT_FALSE(Matches(Made("OLD", 0, 0, Flags::Folder | Flags::Deleted), files));
    EXPECT_TRUE(Matches(Made("IMG_0001.JPG", 1, 0, Flags::IsFile), files));
    EXPECT_TRUE(Matches(Made("x", 1, 0, Flags::Deleted), files));

    FindCriteria both = files;
    both.deletedOnly = true;
    EXPECT_FALSE(Matches(Made("OLD", 0, 0, Flags::Folder | Flags::Deleted), both));
    EXPECT_TRUE(Matches(Made("_MG_0003.JPG", 1, 0, Flags::IsFile | Flags::Deleted), both));
}

// A search over a card analysed by the program.
class FindOnCardTest : public AnalysedCardTest {
  protected:
    std::vector<FoundObject*> Search(const FindCriteria& criteria) {
        finder_.Start(*tree_, criteria);
        finder_.Wait();
        EXPECT_FALSE(finder_.Running());
        return finder_.TakeResults();
    }
    static std::vector<std::string> Names(const std::vector<FoundObject*>& objects) {
        std::vector<std::string> names;
        for (const FoundObject* object : objects)
            names.emplace_back(object->GetName());
        std::sort(names.begin(), names.end());
        return names;
    }

    FindInFound finder_;
};

TEST_F(FindOnCardTest, PatternFindsThePhotosWithTheDeletedOne) {
    FindCriteria criteria;
    criteria.namePattern = "*.JPG";
    const auto found = Search(criteria);
    const std::vector<std::string> photos{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0004.JPG",
                                          "_MG_0003.JPG"};
    EXPECT_EQ(Names(found), photos);
    EXPECT_EQ(finder_.State(), FindInFound::Outcome::Matched);
    EXPECT_FALSE(finder_.FinishedWithoutMatch());
    // The results are the tree's own objects, so the list can show and check them.
    const auto listed = tree_->ListedObjects();
    for (FoundObject* object : found)
        EXPECT_NE(std::find(listed.begin(), listed.end(), object), listed.end());
    // Everything was handed over already.
    EXPECT_TRUE(finder_.TakeResults().empty());

    criteria.namePattern = "img_000?.jpg";
    EXPECT_EQ(Names(Search(criteria)),
              (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0004.JPG"}));
}

TEST_F(FindOnCardTest, DeletedOnlyFindsTheDeletedPhoto) {
    FindCriteria criteria;
    criteria.deletedOnly = true;
    criteria.filesOnly = true;
    EXPECT_EQ(Names(Search(criteria)), std::vector<std::string>{"_MG_0003.JPG"});
}

TEST_F(FindOnCardTest, FilesOnlyLeavesOutFoldersAndSpecialFolders) {
    const auto everything = Names(Search(FindCriteria{}));
    EXPECT_NE(std::find(everything.begin(), everything.end(), "100CANON"), everything.end());
    EXPECT_NE(std::find(everything.begin(), everything.end(), "MISC"), everything.end());
    for (const FoundObject* object : Search(FindCriteria{}))
        EXPECT_FALSE(object->IsSpecial()) << object->GetName();

    FindCriteria criteria;
    criteria.filesOnly = true;
    const auto files = Search(criteria);
    for (const FoundObject* object : files)
        EXPECT_FALSE(object->Is(Flags::Folder)) << object->GetName();
    // Every file the analysis listed, the boot record among them, and nothing else.
    std::vector<FoundObject*> listedFiles;
    for (FoundObject* object : tree_->ListedObjects()) {
        if (!object->IsSpecial() && !object->Is(Flags::Folder))
            listedFiles.push_back(object);
    }
    EXPECT_EQ(Names(files), Names(listedFiles));
    const auto names = Names(files);
    for (const char* photo : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0004.JPG", "_MG_0003.JPG"})
        EXPECT_NE(std::find(names.begin(), names.end(), photo), names.end()) << photo;
}

TEST_F(FindOnCardTest, NothingFoundIsReportedOnlyWhenTheSearchEnds) {
    FindCriteria criteria;
    criteria.namePattern = "*.PNG";
    EXPECT_TRUE(Search(criteria).empty());
    EXPECT_TRUE(finder_.FinishedWithoutMatch());
    EXPECT_EQ(finder_.State(), FindInFound::Outcome::NoMatch);
    // A new search forgets the last one's outcome.
    criteria.namePattern = "*";
    EXPECT_FALSE(Search(criteria).empty());
    EXPECT_FALSE(finder_.FinishedWithoutMatch());
}

// A large tree made here, with names long enough that a full search takes a long while.
class FindInLargeTreeTest : public ::testing::Test {
  protected:
    static constexpr int kObjects = 3000;

    void SetUp() override {
        // Each name costs about a million comparisons against kSlowPattern.
        const std::string name = std::string(4000, 'a') + "b.jpg";
        for (int i = 0; i < kObjects; ++i) {
            FoundObject& object = objects_.emplace_back(Made(name));
            object.Id = 1000 + static_cast<std::uint64_t>(i);
            tree_.AddObject(&object, true);
        }
        FoundObject& special = objects_.emplace_back(Made("special.jpg", 1, 0, Flags::Folder));
        special.Id = static_cast<std::uint64_t>(-40);
        tree_.AddObject(&special, true);
    }

    const std::string kSlowPattern = "*" + std::string(250, 'a') + "b*";
    std::deque<FoundObject> objects_;
    filesystems::FoundObjectTree tree_{nullptr, nullptr, nullptr};
};

TEST_F(FindInLargeTreeTest, CancelStopsTheSearchAndWaitReturns) {
    FindInFound finder;
    FindCriteria criteria;
    criteria.namePattern = kSlowPattern;
    finder.Start(tree_, criteria);
    EXPECT_TRUE(finder.Running());
    finder.Cancel();
    finder.Wait();
    EXPECT_FALSE(finder.Running());
    EXPECT_EQ(finder.State(), FindInFound::Outcome::Cancelled);
    EXPECT_FALSE(finder.FinishedWithoutMatch());
    EXPECT_LT(finder.TakeResults().size(), static_cast<std::size_t>(kObjects));
}

TEST_F(FindInLargeTreeTest, QuickSearchSeesEveryObjectButTheSpecialOne) {
    FindInFound finder;
    FindCriteria all;
    all.namePattern = "*.JPG";
    finder.Start(tree_, all);
    finder.Wait();
    const auto found = finder.TakeResults();
    EXPECT_EQ(found.size(), static_cast<std::size_t>(kObjects));
    EXPECT_TRUE(std::none_of(found.begin(), found.end(),
                             [](const FoundObject* object) { return object->IsSpecial(); }));
    EXPECT_EQ(finder.State(), FindInFound::Outcome::Matched);
}

TEST_F(FindInLargeTreeTest, StartingAgainReplacesTheLastSearch) {
    FindInFound finder;
    // A finished search whose results nobody took, then one still running.
    FindCriteria all;
    all.namePattern = "*.jpg";
    finder.Start(tree_, all);
    finder.Wait();
    FindCriteria slow;
    slow.namePattern = kSlowPattern;
    finder.Start(tree_, slow);
    EXPECT_TRUE(finder.Running());
    FindCriteria none;
    none.namePattern = "*.png";
    finder.Start(tree_, none);
    finder.Wait();
    EXPECT_TRUE(finder.TakeResults().empty());
    EXPECT_TRUE(finder.FinishedWithoutMatch());
}

TEST_F(FindInLargeTreeTest, DestroyingTheFinderEndsItsSearch) {
    std::size_t before = 0;
    {
        FindInFound finder;
        FindCriteria slow;
        slow.namePattern = kSlowPattern;
        finder.Start(tree_, slow);
        before = finder.TakeResults().size();
    }
    // Freed at once: a thread still reading them would trip the address sanitizer.
    objects_.clear();
    EXPECT_LT(before, static_cast<std::size_t>(kObjects));
}

template <typename T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

TEST(FindBar, DefaultsAreTheEmptyCriteria) {
    ui::FindBar bar;
    const FindCriteria criteria = bar.Criteria();
    EXPECT_EQ(criteria.namePattern, "");
    EXPECT_EQ(criteria.modified, FindCriteria::When::DontRemember);
    EXPECT_EQ(criteria.size, FindCriteria::Size::DontRemember);
    EXPECT_EQ(criteria.unit, FindCriteria::Unit::Kilobytes);
    EXPECT_EQ(Child<QComboBox>(bar, "sizeUnit")->currentText(), QStringLiteral(" KB"));
    EXPECT_FALSE(criteria.deletedOnly);
    EXPECT_FALSE(criteria.filesOnly);
    // The pickers and the size fields wait for their choice.
    EXPECT_FALSE(Child<QDateEdit>(bar, "dateFrom")->isEnabled());
    EXPECT_FALSE(Child<QSpinBox>(bar, "sizeValue")->isEnabled());
    EXPECT_TRUE(ui::MatchesCriteria(Made("anything"), criteria, kNow));
}

TEST(FindBar, ControlsBecomeTheCriteria) {
    ui::FindBar bar;
    Child<QLineEdit>(bar, "namePattern")->setText(QStringLiteral("IMG_*.JPG"));
    Child<QRadioButton>(bar, "when4")->setChecked(true);
    EXPECT_TRUE(Child<QDateEdit>(bar, "dateFrom")->isEnabled());
    Child<QDateEdit>(bar, "dateFrom")->setDate(QDate(2024, 5, 1));
    Child<QDateEdit>(bar, "dateTo")->setDate(QDate(2024, 5, 3));
    Child<QRadioButton>(bar, "size4")->setChecked(true);
    EXPECT_TRUE(Child<QSpinBox>(bar, "sizeValue")->isEnabled());
    Child<QComboBox>(bar, "sizeComparison")->setCurrentIndex(1);
    Child<QSpinBox>(bar, "sizeValue")->setValue(20);
    Child<QComboBox>(bar, "sizeUnit")->setCurrentIndex(2);
    Child<QCheckBox>(bar, "deletedOnly")->setChecked(true);
    Child<QCheckBox>(bar, "filesOnly")->setChecked(true);

    const FindCriteria criteria = bar.Criteria();
    EXPECT_EQ(criteria.namePattern, "IMG_*.JPG");
    EXPECT_EQ(criteria.modified, FindCriteria::When::Between);
    EXPECT_EQ(criteria.size, FindCriteria::Size::Specified);
    EXPECT_EQ(criteria.comparison, FindCriteria::Comparison::Greater);
    EXPECT_EQ(criteria.sizeValue, 20u);
    EXPECT_EQ(criteria.unit, FindCriteria::Unit::Megabytes);
    EXPECT_TRUE(criteria.deletedOnly);
    EXPECT_TRUE(criteria.filesOnly);
    // The dates are whole local days.
    const auto local = [](int day, int hour, int minute) {
        return ui::FileTimeOf(std::chrono::system_clock::time_point(std::chrono::milliseconds(
            QDateTime(QDate(2024, 5, day), QTime(hour, minute)).toMSecsSinceEpoch())));
    };
    EXPECT_EQ(criteria.modifiedFrom, local(1, 0, 0));
    EXPECT_LT(criteria.modifiedTo, local(4, 0, 0));
    EXPECT_GT(criteria.modifiedTo, local(3, 23, 59));
    // So a photo of the evening of the last day is found, one of the next morning is not.
    const FoundObject evening =
        Made("IMG_7.JPG", 30 * 1024 * 1024, local(3, 22, 0), Flags::IsFile | Flags::Deleted);
    const FoundObject morning =
        Made("IMG_8.JPG", 30 * 1024 * 1024, local(4, 8, 0), Flags::IsFile | Flags::Deleted);
    EXPECT_TRUE(ui::MatchesCriteria(evening, criteria, kNow));
    EXPECT_FALSE(ui::MatchesCriteria(morning, criteria, kNow));
}

TEST(FindBar, RelativeDateAndSizeChoicesInTheirOrder) {
    ui::FindBar bar;
    const FindCriteria::When whens[] = {FindCriteria::When::DontRemember,
                                        FindCriteria::When::PastWeek, FindCriteria::When::PastMonth,
                                        FindCriteria::When::PastYear, FindCriteria::When::Between};
    const char* whenTexts[] = {"Don't remember", "In the past week", "In the past month",
                               "In the past year", "Specify dates"};
    for (int i = 0; i < 5; ++i) {
        auto* button = Child<QRadioButton>(bar, ("when" + std::to_string(i)).c_str());
        EXPECT_EQ(button->text().toStdString(), whenTexts[i]);
        button->setChecked(true);
        EXPECT_EQ(bar.Criteria().modified, whens[i]) << i;
    }
    const FindCriteria::Size sizes[] = {FindCriteria::Size::DontRemember, FindCriteria::Size::Small,
                                        FindCriteria::Size::Medium, FindCriteria::Size::Large,
                                        FindCriteria::Size::Specified};
    const char* sizeTexts[] = {"Don't remember", "Small (less than 100 KB)",
                               "Medium (less than 1 MB)", "Large (greater than 1 MB)",
                               "Specify size (in KB)"};
    for (int i = 0; i < 5; ++i) {
        auto* button = Child<QRadioButton>(bar, ("size" + std::to_string(i)).c_str());
        EXPECT_EQ(button->text().toStdString(), sizeTexts[i]);
        button->setChecked(true);
        EXPECT_EQ(bar.Criteria().size, sizes[i]) << i;
    }
    auto* comparison = Child<QComboBox>(bar, "sizeComparison");
    ASSERT_EQ(comparison->count(), 3);
    EXPECT_EQ(comparison->itemText(2), QStringLiteral(" <"));
    comparison->setCurrentIndex(2);
    EXPECT_EQ(bar.Criteria().comparison, FindCriteria::Comparison::Less);
    auto* unit = Child<QComboBox>(bar, "sizeUnit");
    unit->setCurrentIndex(0);
    EXPECT_EQ(bar.Criteria().unit, FindCriteria::Unit::Bytes);
    unit->setCurrentIndex(3);
    EXPECT_EQ(bar.Criteria().unit, FindCriteria::Unit::Gigabytes);
}

TEST(FindBar, SearchAndCancelButtons) {
    ui::FindBar bar;
    std::vector<FindCriteria> requested;
    int cancelled = 0;
    QObject::connect(&bar, &ui::FindBar::SearchRequested,
                     [&](const FindCriteria& criteria) { requested.push_back(criteria); });
    QObject::connect(&bar, &ui::FindBar::Cancelled, [&] { ++cancelled; });
    auto* name = Child<QLineEdit>(bar, "namePattern");
    auto* search = Child<QPushButton>(bar, "search");
    auto* cancel = Child<QPushButton>(bar, "cancel");
    name->setText(QStringLiteral("*.CR2"));
    search->click();
    ASSERT_EQ(requested.size(), 1u);
    EXPECT_EQ(requested[0].namePattern, "*.CR2");
    // Enter in the name searches too.
    name->setText(QStringLiteral("*.NEF"));
    emit name->returnPressed();
    ASSERT_EQ(requested.size(), 2u);
    EXPECT_EQ(requested[1], bar.Criteria());

    bar.SetSearching(true);
    EXPECT_FALSE(search->isEnabled());
    EXPECT_TRUE(cancel->isEnabled());
    emit name->returnPressed();
    EXPECT_EQ(requested.size(), 2u);
    cancel->click();
    EXPECT_EQ(cancelled, 1);
    bar.SetSearching(false);
    EXPECT_TRUE(search->isEnabled());
}

}  // namespace
}  // namespace duzez::test
