#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "tests/support/temp_folder.h"

namespace duzez::platform {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

constexpr std::string_view kKey = "Software\\Quarnel\\Duzez\\1.0";

TEST(RegistryStore, EveryValueTypeSurvivesAReload) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    std::vector<std::uint8_t> record(95608);
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(i % 251);
    {
        RegistryStore store(file);
        EXPECT_EQ(store.Load(), StoreLoadResult::Missing);
        EXPECT_TRUE(store.WriteValue(kKey, "Settings", RegValue::FromBinary(record)));
        EXPECT_TRUE(store.WriteValue(kKey, "Count", RegValue::FromDword(42)));
        EXPECT_TRUE(store.WriteValue(kKey, "Name", RegValue::FromString("Fotos \u00fcber alles")));
        EXPECT_TRUE(
            store.WriteValue(std::string(kKey) + "\\Filter", "", RegValue::FromBinary(record)));
    }
    RegistryStore store(file);
    ASSERT_EQ(store.Load(), StoreLoadResult::Loaded);
    EXPECT_EQ(store.ReadValue(kKey, "Settings"), RegValue::FromBinary(record));
    EXPECT_EQ(store.ReadValue(kKey, "count")->AsDword(), 42u);  // names ignore case
    EXPECT_EQ(store.ReadValue(kKey, "Name")->AsString(), "Fotos \u00fcber alles");
    EXPECT_EQ(store.ReadValue("software\\QUARNEL\\duzez\\1.0\\Filter", "")->data, record);
    EXPECT_FALSE(store.ReadValue(kKey, "Missing"));
    EXPECT_FALSE(store.ReadValue("Software\\Nowhere", "Name"));
}

TEST(RegistryStore, SubkeysEnumerateInCreationOrderAcrossReloads) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    const std::string parent = std::string(kKey) + "\\Signatures";
    {
        RegistryStore store(file);
        store.Load();
        for (const char* name : {"300 JPEG", "100 Word", "503 BMP", "2 Zip"}) {
            EXPECT_TRUE(store.CreateKey(parent + "\\" + name));
        }
    }
    RegistryStore store(file);
    store.Load();
    ASSERT_EQ(store.SubkeyCount(parent), 4u);
    EXPECT_EQ(store.SubkeyName(parent, 0), "300 JPEG");
    EXPECT_EQ(store.SubkeyName(parent, 1), "100 Word");
    EXPECT_EQ(store.SubkeyName(parent, 3), "2 Zip");
    EXPECT_FALSE(store.SubkeyName(parent, 4));
    EXPECT_TRUE(store.DeleteKey(parent + "\\100 word"));
    EXPECT_EQ(store.SubkeyName(parent, 1), "503 BMP");
}

TEST(RegistryStore, ReadsUtf16FileWithByteOrderMark) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    const auto bytes = test::ToUtf16LeWithBom(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quarnel\\Duzez\\1.0]\r\n"
        "\"Title\"=\"made on Windows\"\r\n\"Flag\"=dword:00000001\r\n");
    WriteFile(file, std::string(bytes.begin(), bytes.end()));
    RegistryStore store(file);
    ASSERT_EQ(store.Load(), StoreLoadResult::Loaded);
    EXPECT_EQ(store.ReadValue(kKey, "Title")->AsString(), "made on Windows");
    EXPECT_EQ(store.ReadValue(kKey, "Flag")->AsDword(), 1u);
}

TEST(RegistryStore, DamagedFileIsMovedAsideNotDestroyed) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    const std::string damaged = "Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=hex:zz\n";
    WriteFile(file, damaged);
    RegistryStore store(file);
    EXPECT_EQ(store.Load(), StoreLoadResult::MovedAside);
    EXPECT_NE(store.LastError().find("line 3"), std::string::npos) << store.LastError();
    EXPECT_FALSE(store.KeyExists("A"));
    EXPECT_EQ(ReadFile(dir / "registry.reg.bad"), damaged);
    EXPECT_FALSE(std::filesystem::exists(file));
    // The store works on from empty.
    EXPECT_TRUE(store.WriteValue(kKey, "x", RegValue::FromDword(1)));
    EXPECT_EQ(ReadFile(dir / "registry.reg.bad"), damaged);
}

TEST(RegistryStore, FailedWriteLeavesThePreviousFileIntact) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    RegistryStore store(file);
    store.Load();
    ASSERT_TRUE(store.WriteValue(kKey, "Small", RegValue::FromDword(7)));
    const std::string before = ReadFile(file);

    // A file-size limit below what the next save needs makes its write fail part-way.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved =
        store.WriteValue(kKey, "Large", RegValue::FromBinary(std::vector<std::uint8_t>(100000, 1)));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_FALSE(store.LastError().empty());
    EXPECT_EQ(ReadFile(file), before);
    std::size_t leftovers = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++leftovers;
    }
    EXPECT_EQ(leftovers, 1u) << "the temporary file must be removed";
}

TEST(RegistryStore, ImportAppliesAllOrNothing) {
    TempFolder dir;
    RegistryStore store(dir / "registry.reg");
    store.Load();
    const std::string base =
        "[HKEY_CURRENT_USER\\Software\\Quarnel\\Duzez\\1.0\\Signatures\\1 A]\n";
    std::string error;
    EXPECT_FALSE(store.ImportText("REGEDIT4\n" + base + "\"T\"=\"x\"\n\"Bad\"=dword:\n", &error));
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    EXPECT_FALSE(store.KeyExists("Software\\Quarnel\\Duzez\\1.0\\Signatures"));

    WriteFile(dir / "sig.reg", "Windows Registry Editor Version 5.00\n" + base + "\"T\"=\"x\"\n");
    EXPECT_TRUE(store.ImportFile(dir / "sig.reg", &error)) << error;
    EXPECT_EQ(store.ReadValue("Software\\Quarnel\\Duzez\\1.0\\Signatures\\1 A", "T")->AsString(),
              "x");
    EXPECT_FALSE(store.ImportFile(dir / "missing.reg", &error));
    EXPECT_NE(error.find("missing.reg"), std::string::npos);
}

TEST(RegistryStore, BatchWritesTheFileOnceAtTheEnd) {
    TempFolder dir;
    const auto file = dir / "registry.reg";
    RegistryStore store(file);
    store.Load();
    {
        RegistryStore::Batch batch(store);
        for (int i = 0; i < 50; ++i) {
            store.WriteValue(kKey, "v" + std::to_string(i),
                             RegValue::FromDword(static_cast<std::uint32_t>(i)));
        }
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_TRUE(batch.Commit());
    }
    RegistryStore reloaded(file);
    reloaded.Load();
    EXPECT_EQ(reloaded.ReadValue(kKey, "v49")->AsDword(), 49u);
}

TEST(RegistryStore, DefaultPathHonoursXdgConfigHome) {
    test::ScopedEnv env("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(RegistryStore::DefaultPath(), "/srv/config/Quarnel/Duzez/registry.reg");
    test::ScopedEnv relative("XDG_CONFIG_HOME", "relative/ignored");
    test::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(RegistryStore::DefaultPath(), "/home/someone/.config/Quarnel/Duzez/registry.reg");
}

}  // namespace
}  // namespace duzez::platform
