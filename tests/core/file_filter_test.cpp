#include "core/file_filter.h"

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "tests/support/temp_folder.h"

namespace duzez::core {
namespace {

constexpr std::string_view kKey = "Software\\Quarnel\\Duzez\\1.0";

TEST(FileFilter, AbsentKeyIsCreatedWithTheDefaultFilter) {
    test::TempFolder dir;
    platform::RegistryStore store(dir / "registry.reg");
    CFileFilter filter;
    EXPECT_TRUE(filter.LoadFilter(store, kKey));
    const auto stored = store.ReadValue("Software\\Quarnel\\Duzez\\1.0\\Filter", "");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, platform::RegType::Binary);
    EXPECT_EQ(stored->data, std::vector<std::uint8_t>(728, 0));
}

TEST(FileFilter, FieldsSurviveSaveAndLoadAtTheirOffsets) {
    test::TempFolder dir;
    platform::RegistryStore store(dir / "registry.reg");
    CFileFilter filter;
    filter.SetDeletedOnly(true);
    filter.SetByWildcards(true);
    filter.SetWildcardPattern("*.jpg");
    filter.SetTypes(CFileFilter::FileTypes::Custom);
    filter.SetDateFrom(0x01D0000000000000ull);
    filter.SetDateTo(0x01DA000000000001ull);
    ASSERT_TRUE(filter.SaveFilter(store, kKey));

    const auto bytes = store.ReadValue("Software\\Quarnel\\Duzez\\1.0\\Filter", "")->data;
    EXPECT_EQ(bytes[20], 1);
    EXPECT_EQ(bytes[52], 1);
    EXPECT_EQ(bytes[80], 2);
    EXPECT_EQ(bytes[120], '*');
    EXPECT_EQ(bytes[122], '.');
    EXPECT_EQ(bytes[632 + 7], 0x01);
    EXPECT_EQ(bytes[640], 0x01);

    CFileFilter loaded;
    ASSERT_TRUE(loaded.LoadFilter(store, kKey));
    EXPECT_TRUE(loaded.DeletedOnly());
    EXPECT_FALSE(loaded.ByDate());
    EXPECT_EQ(loaded.WildcardPattern(), "*.jpg");
    EXPECT_EQ(loaded.Types(), CFileFilter::FileTypes::Custom);
    EXPECT_EQ(loaded.DateTo(), 0x01DA000000000001ull);
}

TEST(FileFilter, StoredValueOfTheWrongSizeIsNotTaken) {
    test::TempFolder dir;
    platform::RegistryStore store(dir / "registry.reg");
    store.WriteValue("Software\\Quarnel\\Duzez\\1.0\\Filter", "",
                     platform::RegValue::FromBinary(std::vector<std::uint8_t>(100, 0xFF)));
    CFileFilter filter;
    EXPECT_FALSE(filter.LoadFilter(store, kKey));
    EXPECT_FALSE(filter.DeletedOnly());
}

TEST(FileFilter, PatternIsCutAt255Characters) {
    CFileFilter filter;
    filter.SetWildcardPattern(std::string(400, 'a'));
    EXPECT_EQ(filter.WildcardPattern().size(), 255u);
    EXPECT_EQ(filter.DateFrom(), 0u);  // the field after the pattern is untouched
}

}  // namespace
}  // namespace duzez::core
