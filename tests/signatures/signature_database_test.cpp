#include "signatures/signature_database.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "filesystems/found_object.h"
#include "platform/registry_store.h"
#include "platform/text_encoding.h"
#include "signatures/sector_matcher.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

constexpr std::string_view kProgramKey = "Software\\Quarnel\\Duzez\\1.0";

class DatabaseTest : public ::testing::Test {
  protected:
    void Add(const std::string& subkey, const std::string& body) {
        std::string error;
        ASSERT_TRUE(
            store_.ImportText("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Quarnel\\Duzez\\1.0\\"
                              "Signatures\\" +
                                  subkey + "]\n" + body,
                              &error))
            << error;
    }
    SignatureDatabase& Load() {
        database_.LoadDatabase();
        return database_;
    }

    test::TempFolder dir_;
    platform::RegistryStore store_{dir_ / "registry.reg"};
    std::uint64_t counter_ = 0xFFFFFFFFFFFF0000ull;
    SignatureDatabase database_{store_, std::string(kProgramKey), [this] { return --counter_; }};
};

TEST_F(DatabaseTest, NumbersComeFromTheLeadingDigitsOfTheSubkey) {
    Add("305", "\"Title\"=\"first\"\n");
    Add("00305", "\"Title\"=\"second\"\n");
    Add("abc", "\"Title\"=\"no number\"\n");
    auto& db = Load();
    ASSERT_EQ(db.Signatures().size(), 3u);
    EXPECT_EQ(db.Signatures()[1]->FormatId, 305);
    EXPECT_EQ(db.FindSignatureById(305)->Title, "first");
    EXPECT_EQ(db.Signatures()[2]->FormatId, 0);
    EXPECT_EQ(db.FindSignatureById(999), nullptr);
}

TEST_F(DatabaseTest, ValuesAndDefaults) {
    Add("300",
        "\"Title\"=\"JPEG\"\n\"DefaultSize\"=dword:00002000\n\"SearchEnable\"=dword:0\n"
        "\"View\"=dword:1\n\"LastUpdate\"=\"x\"\n\"Enable\"=dword:7\n");
    Add("301", "");
    auto& db = Load();
    const Signature& jpeg = *db.Signatures()[0];
    EXPECT_EQ(jpeg.DefaultSize, 8192u);
    EXPECT_EQ(jpeg.SearchEnable.load(), 0u);
    EXPECT_EQ(jpeg.View.load(), 1u);
    EXPECT_EQ(jpeg.Enable, 7u);
    const Signature& bare = *db.Signatures()[1];
    EXPECT_EQ(bare.DefaultSize, 1024u);
    EXPECT_EQ(bare.SearchEnable.load(), 1u);
    EXPECT_EQ(bare.SearchOrder, 50u);
    EXPECT_EQ(bare.ShowFilesThisType, 1u);
    EXPECT_TRUE(bare.Patterns.empty());
}

TEST_F(DatabaseTest, PatternsStopAtTheFirstMissingOrNonTextValue) {
    Add("1", "\"Signature01\"=\"0=$41\"\n\"Signature03\"=\"0=$43\"\n");
    Add("2", "\"Signature01\"=\"0=$41\"\n\"Signature02\"=dword:1\n\"Signature03\"=\"0=$43\"\n");
    Add("3", "\"Signature01\"=\"\"\n\"Signature02\"=\"0=$42\"\n");
    auto& db = Load();
    EXPECT_EQ(db.Signatures()[0]->Patterns.size(), 1u);
    EXPECT_EQ(db.Signatures()[1]->Patterns.size(), 1u);
    EXPECT_EQ(db.Signatures()[2]->Patterns.size(), 1u) << "an empty text adds no pattern";
    EXPECT_EQ(db.Signatures()[2]->Patterns[0].Value[0], 0x42);
}

TEST_F(DatabaseTest, FirstSignatureKeepsAnExtension) {
    Add("10", "\"FileExtensions\"=\"jpg;jpeg;JPG\"\n");
    Add("11", "\"FileExtensions\"=\"jpeg\"\n");
    Add("12", "\"FileExtensions\"=\"*.tif, *.tiff\"\n");
    auto& db = Load();
    const auto& index = db.ExtensionIndex();
    EXPECT_EQ(index.size(), 4u);
    EXPECT_EQ(index.at("JPG")->FormatId, 10);
    EXPECT_EQ(index.at("JPEG")->FormatId, 10);
    EXPECT_EQ(index.at("TIF")->FormatId, 12);
    EXPECT_EQ(index.at("TIFF")->FormatId, 12);
    EXPECT_EQ(db.Signatures()[0]->FirstExtension, "jpg");
    EXPECT_EQ(db.Signatures()[2]->FirstExtension, "*.tif");
}

TEST_F(DatabaseTest, GroupsTakeIdsFromTheMachineCounter) {
    Add("1", "\"Group\"=\"Duzez\"\n");
    Add("2", "\"Group\"=\"photo\"\n");
    Add("3", "\"Group\"=\"Duzez\"\n");
    Add("4", "\"Group\"=\"Unknown\"\n");
    Add("5", "");
    auto& db = Load();
    const auto& s = db.Signatures();
    EXPECT_EQ(s[0]->GroupId, s[2]->GroupId);
    EXPECT_NE(s[0]->GroupId, s[1]->GroupId);
    EXPECT_EQ(static_cast<std::uint32_t>(s[0]->GroupId), 0xFFFEFFFFu);
    EXPECT_EQ(s[3]->GroupId, -1);
    EXPECT_EQ(db.FindGroup(-1), nullptr);
    ASSERT_NE(db.FindGroup(s[1]->GroupId), nullptr);
    EXPECT_EQ(db.FindGroup(s[1]->GroupId)->Title, "photo");
    EXPECT_EQ(db.FindGroup(s[1]->GroupId)->IsGroup, 1u);
    EXPECT_EQ(db.FindGroup(s[4]->GroupId)->Title, "") << "an empty group text is a group too";
}

TEST_F(DatabaseTest, SavingKeepsThePatternsInTheStore) {
    Add("305", "\"Title\"=\"Old\"\n\"Signature01\"=\"0='%PDF'\"\n");
    auto& db = Load();
    Signature& pdf = *db.Signatures()[0];
    pdf.Title = "PDF";
    pdf.View = 1;
    ASSERT_TRUE(db.SaveSignature(pdf));
    // Written under the five-digit name; the pattern value of the old key stays.
    EXPECT_TRUE(store_.KeyExists("Software\\Quarnel\\Duzez\\1.0\\Signatures\\00305"));
    platform::RegistryStore reread(dir_ / "registry.reg");
    reread.Load();
    std::uint64_t counter = 0;
    SignatureDatabase again(reread, std::string(kProgramKey), [&] { return --counter; });
    again.LoadDatabase();
    const Signature* saved = nullptr;
    for (const auto& s : again.Signatures()) {
        if (s->Title == "PDF")
            saved = s.get();
    }
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->View.load(), 1u);
    EXPECT_EQ(again.Signatures().size(), 2u) << "305 and 00305";
}

TEST_F(DatabaseTest, ObjectsAreMatchedByTheExtensionOfTheirName) {
    Add("300", "\"FileExtensions\"=\"jpg;jpeg\"\n");
    auto& db = Load();
    filesystems::FoundObject photo;
    photo.SetName("HOLIDAY.JPG");
    ASSERT_NE(db.FindSignatureForObject(photo), nullptr);
    EXPECT_EQ(photo.SignatureId, 300);
    filesystems::FoundObject other;
    other.SetName("notes..txt");
    EXPECT_EQ(db.FindSignatureForObject(other), nullptr);
    filesystems::FoundObject unnamed;
    EXPECT_EQ(db.FindSignatureForObject(unnamed), nullptr);
}

TEST_F(DatabaseTest, PatternEditsChangeOnlyTheRunningDatabase) {
    Add("1", "\"Signature01\"=\"0=$41\"\n");
    auto& db = Load();
    Signature& s = *db.Signatures()[0];
    db.AppendPattern(s);
    ASSERT_EQ(s.Patterns.size(), 2u);
    EXPECT_EQ(s.Patterns[1].Mask[7], 0xFF);
    EXPECT_EQ(s.Patterns[1].CompareLength, 0);
    EXPECT_TRUE(db.SetPatternOptions(s, 1, 4, true));
    EXPECT_TRUE(db.GetPattern(s, 1)->CheckByBits);
    EXPECT_TRUE(db.RemovePattern(s, 1));
    EXPECT_FALSE(db.RemovePattern(s, 5));
}

// The fast matcher must give exactly what testing every enabled signature in database
// order gives.
TEST_F(DatabaseTest, FastMatcherAgreesWithTestingEverySignature) {
    Add("1", "\"Signature01\"=\"0=$FF,1=$D8,2=$FF\"\n");
    Add("2", "\"Signature01\"=\"0=$FF\"\n\"Signature02\"=\"4='ftyp'\"\n");
    Add("3", "\"Signature01\"=\"zz\"\n");  // matches everything
    Add("4", "\"Signature01\"=\"0=$00,1=$00,2=$01\"\n\"SearchEnable\"=dword:0\n");
    Add("5", "\"Signature01\"=\"0=$00,1=$00,2=$01,3=$BA\"\n");
    Add("6", "\"Signature01\"=\"510=$55,511=$AA\"\n");
    auto& db = Load();
    db.Signatures()[1]->Patterns.push_back(*ParsePatternText("0=$80"));
    db.Signatures()[1]->Patterns.back().CheckByBits = true;
    const SectorMatcher matcher(db);
    std::mt19937 random(42);
    std::vector<const Signature*> fast;
    for (int round = 0; round < 4000; ++round) {
        std::array<std::uint8_t, kSectorBytes> sector{};
        for (auto& b : sector)
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : 0);
        if (round % 3 == 0) {
            sector[0] = 0xFF, sector[1] = 0xD8, sector[2] = 0xFF;
        }
        if (round % 5 == 0)
            std::memcpy(sector.data() + 4, "ftyp", 4);
        if (round % 7 == 0)
            sector[2] = 1, sector[3] = 0xBA, sector[0] = sector[1] = 0;
        if (round % 11 == 0)
            sector[510] = 0x55, sector[511] = 0xAA;
        std::vector<const Signature*> slow;
        for (const auto& s : db.Signatures()) {
            if (s->SearchEnable != 0 && SignatureDatabase::MatchSector(*s, sector))
                slow.push_back(s.get());
        }
        matcher.Match(sector, fast);
        ASSERT_EQ(fast, slow) << "round " << round;
    }
}

// A quoted pattern takes one byte per UTF-16 unit of an imported file, so "é" is one
// byte (0xE9) and what follows it stays where the file put it.
TEST_F(DatabaseTest, AQuotedPatternOfAnImportedFileTakesOneByteEachCharacter) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quarnel\\Duzez\\1.0\\Signatures\\01000]\r\n"
        "\"Title\"=\"Caf\u00e9 notes\"\r\n"
        "\"Signature01\"=\"0='Caf\u00e9!',6=$41\"\r\n";
    // As Windows exports it: UTF-16LE with its byte-order mark.
    const std::vector<std::uint8_t> units = platform::Utf8ToUtf16Le(text);
    const std::string file = "\xFF\xFE" + std::string(units.begin(), units.end());
    const auto path = dir_ / "imported.reg";
    test::WriteFile(path, file);
    std::string error;
    ASSERT_TRUE(store_.ImportFile(path, &error)) << error;
    const Signature* format = Load().FindSignatureById(1000);
    ASSERT_NE(format, nullptr);
    ASSERT_EQ(format->Patterns.size(), 1u);
    const auto& pattern = format->Patterns[0];
    EXPECT_EQ(pattern.CompareLength, 7u);
    const std::uint8_t expected[] = {'C', 'a', 'f', 0xE9, '!', 0, 'A'};
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(pattern.Value[i], expected[i]) << i;
    EXPECT_EQ(pattern.Mask[5], 0);
    EXPECT_EQ(pattern.Mask[6], 0xFF);
}

}  // namespace
}  // namespace duzez::signatures
