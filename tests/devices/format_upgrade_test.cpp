// A store filled by an older program: the formats shipped since then are added at the
// next start, and the formats already there keep what the user chose for them.

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "signatures/signature_database.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::test {
namespace {

class FormatUpgradeTest : public MachineTest {};

TEST_F(FormatUpgradeTest, NewShippedFormatsJoinAnOlderStoreWithoutUndoingTheUsersChoices) {
    auto& computer = Computer(false);
    ASSERT_TRUE(computer.LoadSignatures());
    const std::string formats = "Software\\Quarnel\\Duzez\\1.0\\Signatures\\";
    auto& store = app_->Store();
    ASSERT_TRUE(store.KeyExists(formats + "00706"));
    // As the older program left it: no SQLite format, and JPEG not searched for.
    ASSERT_TRUE(store.DeleteKey(formats + "00706"));
    ASSERT_TRUE(
        store.WriteValue(formats + "00300", "SearchEnable", platform::RegValue::FromDword(0)));
    computer.Signatures().LoadDatabase();
    ASSERT_EQ(computer.Signatures().FindSignatureById(706), nullptr);

    ASSERT_TRUE(computer.LoadSignatures());
    const signatures::Signature* sqlite = computer.Signatures().FindSignatureById(706);
    ASSERT_NE(sqlite, nullptr);
    EXPECT_EQ(sqlite->Title, "SQLite database");
    const signatures::Signature* jpeg = computer.Signatures().FindSignatureById(300);
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(jpeg->SearchEnable.load(), 0u) << "the user's choice was undone";
}

}  // namespace
}  // namespace duzez::test
