#include "core/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/app.h"
#include "platform/byte_order.h"
#include "platform/registry_store.h"
#include "tests/support/temp_folder.h"

namespace duzez::core {
namespace {

using platform::RegistryStore;
using platform::RegValue;

const std::string kKey(CApp::kRegistryPath);

SettingsEnvironment Environment() {
    SettingsEnvironment env;
    env.workAreaRight = 1920;
    env.workAreaBottom = 1040;
    env.tempFolder = "/var/tmp";
    env.destinationFolder = "/home/ann/Recovered Files";
    return env;
}

ino_t Inode(const std::filesystem::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0);
    return info.st_ino;
}

std::uint32_t ChecksumOf(const std::vector<std::uint8_t>& record) {
    std::uint32_t sum = 0;
    for (std::size_t offset = 4; offset < record.size(); offset += 4) {
        sum += *platform::ReadLe<std::uint32_t>(record, offset);
    }
    return sum;
}

class SettingsTest : public ::testing::Test {
  protected:
    test::TempFolder dir_;
    std::filesystem::path file_ = dir_ / "registry.reg";
};

TEST_F(SettingsTest, FirstRunStoresDefaultsWithAValidChecksumAtOnce) {
    RegistryStore store(file_);
    store.Load();
    CSettings settings(store, kKey);
    EXPECT_FALSE(settings.LoadSettings(Environment()));

    RegistryStore reread(file_);
    ASSERT_EQ(reread.Load(), platform::StoreLoadResult::Loaded);
    const auto stored = reread.ReadValue(kKey, "Settings");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, platform::RegType::Binary);
    ASSERT_EQ(stored->data.size(), 95608u);
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 0), ChecksumOf(stored->data));
    // A few defaults straight from the stored bytes.
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 44), 0xFFFFFFFFu);
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 112), 10240u);
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 164), 10u);
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 172), 0xA00000u);
    EXPECT_EQ(platform::ReadLe<std::uint32_t>(stored->data, 1344), 44u);

    EXPECT_EQ(settings.DestinationFolder(), "/home/ann/Recovered Files");
    EXPECT_EQ(settings.TempFolder(), "/var/tmp");
    EXPECT_EQ(settings.LogFileName(), "Duzez Quarnel.log");
    EXPECT_EQ(settings.Text(CSettings::kReservedText, 2), "*");
}

TEST_F(SettingsTest, DefaultWindowIs800By600CentredInTheWorkArea) {
    RegistryStore store(file_);
    CSettings settings(store, kKey);
    settings.LoadSettings(Environment());
    const WindowRect w = settings.WindowGeometry();
    EXPECT_EQ(w.left, 1920 / 2 - 400);
    EXPECT_EQ(w.top, 1040 / 2 - 300);
    EXPECT_EQ(w.width, 800);
    EXPECT_EQ(w.height, 600);

    settings.SetDefaults(SettingsEnvironment{1023, 767, "/tmp", "/r"});  // integer division
    EXPECT_EQ(settings.WindowGeometry().left, 511 - 400);
    EXPECT_EQ(settings.WindowGeometry().top, 383 - 300);
}

TEST_F(SettingsTest, StoredRecordIsUsedAndRescanIsPendingAfterLoad) {
    {
        RegistryStore store(file_);
        CSettings settings(store, kKey);
        settings.LoadSettings(Environment());
        settings.SetRescanPending(false);
        settings.SetWord(CSettings::kReadRetryAttempts, 3);
        settings.SetDestinationFolder("/media/backup/\u00e9t\u00e9");
        EXPECT_TRUE(settings.SaveIfChanged());
    }
    RegistryStore store(file_);
    store.Load();
    CSettings settings(store, kKey);
    EXPECT_TRUE(settings.LoadSettings(Environment()));
    EXPECT_EQ(settings.ReadRetryAttempts(), 3u);
    EXPECT_EQ(settings.DestinationFolder(), "/media/backup/\u00e9t\u00e9");
    EXPECT_TRUE(settings.RescanPending());
}

TEST_F(SettingsTest, OneChangedByteWithoutItsChecksumGivesDefaults) {
    {
        RegistryStore store(file_);
        CSettings settings(store, kKey);
        settings.LoadSettings(Environment());
        settings.SetWord(CSettings::kReadRetryAttempts, 99);
        settings.SaveIfChanged();
    }
    {
        RegistryStore store(file_);
        store.Load();
        auto record = store.ReadValue(kKey, "Settings")->data;
        record[CSettings::kShowSplash] ^= 1;
        store.WriteValue(kKey, "Settings", RegValue::FromBinary(record));
    }
    RegistryStore store(file_);
    store.Load();
    CSettings settings(store, kKey);
    EXPECT_FALSE(settings.LoadSettings(Environment()));
    EXPECT_EQ(settings.ReadRetryAttempts(), 10u);
    EXPECT_TRUE(settings.ShowSplash());
}

TEST_F(SettingsTest, WrongSizeOrTypeGivesDefaults) {
    for (const RegValue& bad :
         {RegValue::FromBinary(std::vector<std::uint8_t>(95604)),
          RegValue{platform::RegType::Dword, std::vector<std::uint8_t>(95608)}}) {
        RegistryStore store(file_);
        store.WriteValue(kKey, "Settings", bad);
        CSettings settings(store, kKey);
        settings.SetWord(CSettings::kReadRetryAttempts, 5);
        EXPECT_FALSE(settings.LoadSettings(Environment()));
        EXPECT_EQ(settings.ReadRetryAttempts(), 10u);
    }
}

TEST_F(SettingsTest, IdleWithNothingChangedWritesNothing) {
    RegistryStore store(file_);
    CSettings settings(store, kKey);
    settings.LoadSettings(Environment());
    const ino_t first = Inode(file_);
    EXPECT_TRUE(settings.SaveIfChanged());
    EXPECT_EQ(Inode(file_), first);

    // The same after a reload: loading itself changes nothing that needs saving.
    RegistryStore store2(file_);
    store2.Load();
    CSettings again(store2, kKey);
    EXPECT_TRUE(again.LoadSettings(Environment()));
    again.SaveIfChanged();
    EXPECT_EQ(Inode(file_), first);

    again.SetContinueWithSectors(true);
    again.SaveIfChanged();
    EXPECT_NE(Inode(file_), first);
}

TEST_F(SettingsTest, TextFieldsAreCutToTheirCapacity) {
    RegistryStore store(file_);
    CSettings settings(store, kKey);
    settings.SetLogFileName(std::string(2000, 'x'));
    EXPECT_EQ(settings.LogFileName().size(), CSettings::kLogFileNameCapacity - 1);
    // The field after it is untouched.
    EXPECT_EQ(settings.Text(CSettings::kReservedText, 2), "");
    settings.SetLogFileName("short");
    EXPECT_EQ(settings.LogFileName(), "short");
}

TEST(AppSettings, WithoutDisplayTheWorkAreaIs1024By768) {
    test::TempFolder dir;
    CAppOptions options;
    options.storePath = dir / "registry.reg";
    options.languageFolder = dir / "Languages";
    CApp app(std::move(options));
    EXPECT_EQ(CApp::Instance(), &app);
    app.LoadSettings();
    EXPECT_EQ(app.Settings().WindowGeometry().left, 112);
    EXPECT_EQ(app.Settings().WindowGeometry().top, 84);
    EXPECT_EQ(app.GetRegistryPath(), "Software\\Quarnel\\Duzez\\1.0");
    EXPECT_FALSE(app.IsBusy());
    app.AnalysisRunning = true;
    EXPECT_TRUE(app.IsBusy());
}

}  // namespace
}  // namespace duzez::core
