// The bad day from end to end: a camera card whose file system is gone, recovered from its
// sectors alone.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using duzez::test::ReadFile;
using duzez::test::RunCommand;

std::string Sha256(const fs::path& file) {
    return duzez::test::CommandOutput("sha256sum '" + file.string() + "'").substr(0, 64);
}

// Wipes the FATs, every directory and all free space of `card`: only the boot sector and
// the files' own bytes survive. Where each file lies on the card, or nothing when one of
// them is not contiguous there.
std::optional<std::map<std::string, std::size_t>> WipeAllBut(
    const fs::path& card, const fs::path& folder, const std::vector<std::string>& files) {
    const std::string bytes = ReadFile(card);
    std::string wiped(bytes.size(), '\0');
    wiped.replace(0, 512, bytes.substr(0, 512));
    std::map<std::string, std::size_t> offsets;
    for (const auto& name : files) {
        const std::string file = ReadFile(folder / name);
        const std::size_t at = bytes.find(file);
        if (at == std::string::npos)
            return std::nullopt;
        wiped.replace(at, file.size(), file);
        offsets[name] = at;
    }
    duzez::test::WriteFile(card, wiped);
    return offsets;
}

// `recover --deep` of `card` into a folder of `home`: the hashes of the files written, and
// what the command printed.
std::set<std::string> RecoverDeep(const fs::path& card, const fs::path& home, std::string& report) {
    const fs::path out = home / "recovered";
    report = duzez::test::CommandOutput("XDG_CONFIG_HOME='" + home.string() +
                                        "' '" DUZEZ_CLI_PATH "' recover '" + card.string() + "' '" +
                                        out.string() + "' --deep 2>&1");
    std::set<std::string> recovered;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(out, error)) {
        if (entry.is_regular_file())
            recovered.insert(Sha256(entry.path()));
    }
    return recovered;
}

TEST(CameraCard, PhotosOfAWipedCardComeBackByteIdentical) {
    if (!duzez::test::HaveTool("mkfs.fat") || !duzez::test::HaveTool("mcopy") ||
        !RunCommand("convert -version | grep -q ImageMagick") ||
        !duzez::test::HaveTool("sha256sum")) {
        GTEST_SKIP() << "dosfstools, mtools, ImageMagick or sha256sum missing";
    }
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 32 -s 1 '" + card.string() + "' 40960"));
    ASSERT_TRUE(
        RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i '" + card.string() + "' ::/DCIM ::/DCIM/100CANON"));
    const std::map<std::string, std::string> photos = {
        {"IMG_0001.JPG", "logo: -resize 70% -quality 85"},
        {"IMG_0002.JPG", "rose: -resize 500% -quality 92"},
        {"IMG_0003.PNG", "-size 300x200 gradient:gold-navy -colors 32"},
        {"IMG_0004.JPG", "-seed 5 -size 640x480 plasma:fractal -quality 80"},
        {"IMG_0005.JPG", "wizard: -resize 80% -quality 88"},
        {"IMG_0006.PNG", "rose: -resize 200%"},
    };
    std::set<std::string> originals;
    for (const auto& [name, source] : photos) {
        const fs::path photo = dir / name;
        ASSERT_TRUE(RunCommand("convert " + source + " -strip '" + photo.string() + "'")) << name;
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' '" +
                               photo.string() + "' ::/DCIM/100CANON/"));
        originals.insert(Sha256(photo));
    }
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i '" + card.string() +
                           "' ::/DCIM/100CANON/IMG_0002.JPG ::/DCIM/100CANON/IMG_0006.PNG"));

    std::vector<std::string> names;
    for (const auto& [name, source] : photos)
        names.push_back(name);
    ASSERT_TRUE(WipeAllBut(card, dir.path(), names)) << "a photo is not contiguous on the card";

    std::string report;
    const std::set<std::string> recovered = RecoverDeep(card, dir.path(), report);
    for (const auto& hash : originals)
        EXPECT_TRUE(recovered.count(hash)) << "a photo is missing or differs\n" << report;
    EXPECT_EQ(recovered.size(), originals.size()) << "nothing but the photos\n" << report;
}

// Documents and archives carved from a wiped card end where their own structure says,
// not at the next file's start: no slack, no garbage, byte-identical.
TEST(CameraCard, DocumentsAndArchivesOfAWipedCardComeBackWithoutTrailingBytes) {
    for (const char* tool : {"mkfs.fat", "mcopy", "zip", "qpdf", "sqlite3", "7z", "sha256sum"}) {
        if (!duzez::test::HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    }
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 -s 8 '" + card.string() + "' 40960"));
    duzez::test::WriteFile(dir / "notes.txt", duzez::test::Pattern(30000, 4));
    duzez::test::WriteFile(dir / "data.bin", duzez::test::Pattern(70000, 5));
    const std::string d = "'" + dir.path().string() + "/";
    ASSERT_TRUE(RunCommand("cd " + d +
                           "' && echo 'a comment' | zip -q -z ARCHIVE.ZIP notes.txt data.bin"
                           " && qpdf --empty REPORT.PDF && sqlite3 PHONE.DB 'create table t(a,b);"
                           " insert into t values(1, zeroblob(9000));' && 7z a -bd -bso0 PACK.7Z "
                           "notes.txt >/dev/null"));
    const std::vector<std::string> files = {"ARCHIVE.ZIP", "REPORT.PDF", "PHONE.DB", "PACK.7Z"};
    std::set<std::string> originals;
    for (const auto& name : files) {
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' " + d + name +
                               "' ::/"));
        originals.insert(Sha256(dir / name));
    }
    ASSERT_TRUE(WipeAllBut(card, dir.path(), files)) << "a file is not contiguous on the card";

    std::string report;
    const std::set<std::string> recovered = RecoverDeep(card, dir.path(), report);
    for (const auto& hash : originals)
        EXPECT_TRUE(recovered.count(hash)) << "a file is missing or differs\n" << report;
}

// Carved photos are named by their capture time and camera, a second one of the same
// second gets " (2)", and their file time is the capture time; --carved-names offset
// keeps the names by position.
TEST(CameraCard, CarvedPhotosAreNamedByTheirCaptureTimeAndCamera) {
    for (const char* tool : {"mkfs.fat", "mcopy", "convert", "exiftool", "sha256sum"}) {
        if (!duzez::test::HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    }
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 '" + card.string() + "' 20000 >/dev/null"));
    const std::string d = "'" + dir.path().string() + "/";
    ASSERT_TRUE(RunCommand("cd " + d +
                           "' && convert -size 640x480 plasma:fractal A.JPG && "
                           "convert -size 320x200 gradient:red-blue B.JPG && "
                           "convert -size 200x100 xc:green C.JPG && exiftool -q "
                           "-overwrite_original -DateTimeOriginal='2023:07:14 10:32:05' "
                           "-Make=Canon -Model='Canon EOS 80D' A.JPG B.JPG"));
    const std::vector<std::string> files = {"A.JPG", "B.JPG", "C.JPG"};
    for (const auto& name : files) {
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' " + d + name +
                               "' ::/"));
    }
    auto wiped = WipeAllBut(card, dir.path(), files);
    ASSERT_TRUE(wiped) << "a photo is not contiguous on the card";
    auto& offsets = *wiped;
    const std::string cli = "XDG_CONFIG_HOME='" + dir.path().string() + "' '" DUZEZ_CLI_PATH "' ";

    const fs::path out = dir / "named";
    const std::string report = duzez::test::CommandOutput(cli + "recover '" + card.string() +
                                                          "' '" + out.string() + "' --deep 2>&1");
    const fs::path first = out / "2023-07-14 10-32-05 Canon EOS 80D.jpg";
    const fs::path second = out / "2023-07-14 10-32-05 Canon EOS 80D (2).jpg";
    ASSERT_TRUE(fs::exists(first)) << report;
    ASSERT_TRUE(fs::exists(second)) << report;
    EXPECT_EQ(std::set<std::string>({Sha256(first), Sha256(second)}),
              std::set<std::string>({Sha256(dir / "A.JPG"), Sha256(dir / "B.JPG")}));
    // Without EXIF the name by position stands.
    EXPECT_TRUE(fs::exists(out / ("IMG_" + std::to_string(offsets["C.JPG"]) + ".jpg"))) << report;
    // The capture time is the file's time (taken as UTC where no offset is written).
    EXPECT_EQ(duzez::test::CommandOutput("TZ=UTC date -r '" + first.string() + "' '+%F %T'"),
              "2023-07-14 10:32:05\n");

    const fs::path byOffset = dir / "by-offset";
    const std::string plain =
        duzez::test::CommandOutput(cli + "recover '" + card.string() + "' '" + byOffset.string() +
                                   "' --deep --carved-names offset 2>&1");
    for (const auto& name : files) {
        EXPECT_TRUE(fs::exists(byOffset / ("IMG_" + std::to_string(offsets[name]) + ".jpg")))
            << name << "\n"
            << plain;
    }
}

// Deleted photos are judged: one whole, one cut short, one with its middle overwritten.
// The listing and the summary say which is which, and --intact-only writes the whole one.
TEST(CameraCard, DeletedPhotosAreJudgedIntactTruncatedOrDamaged) {
    for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "convert"}) {
        if (!duzez::test::HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    }
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 '" + card.string() + "' 20000 >/dev/null"));
    ASSERT_TRUE(RunCommand("convert -size 1200x900 plasma:fractal -quality 90 '" +
                           (dir / "GOOD.JPG").string() + "'"));
    const std::string good = ReadFile(dir / "GOOD.JPG");
    std::string damaged = good;
    damaged.replace(damaged.size() / 2, 4096, duzez::test::Pattern(4096, 9));
    duzez::test::WriteFile(dir / "DAMAGED.JPG", damaged);
    duzez::test::WriteFile(dir / "CUT.JPG", good.substr(0, good.size() * 6 / 10));
    for (const char* name : {"GOOD.JPG", "DAMAGED.JPG", "CUT.JPG"}) {
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' '" +
                               (dir / name).string() + "' ::/"));
    }
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i '" + card.string() +
                           "' ::/GOOD.JPG ::/DAMAGED.JPG ::/CUT.JPG"));
    const std::string cli = "XDG_CONFIG_HOME='" + dir.path().string() + "' '" DUZEZ_CLI_PATH "' ";

    const std::string list =
        duzez::test::CommandOutput(cli + "list '" + card.string() + "' --verdicts 2>&1");
    // The whole row: the state and check columns come before the path.
    const auto line = [&list](const std::string& name) {
        const std::size_t at = list.find(name);
        if (at == std::string::npos)
            return std::string();
        const std::size_t begin = list.rfind('\n', at) + 1;
        return list.substr(begin, list.find('\n', at) - begin);
    };
    EXPECT_NE(line("_OOD.JPG").find("intact"), std::string::npos) << list;
    EXPECT_NE(line("_AMAGED.JPG").find("damaged"), std::string::npos) << list;
    EXPECT_NE(line("_UT.JPG").find("truncated"), std::string::npos) << list;

    const std::string all = duzez::test::CommandOutput(cli + "recover '" + card.string() + "' '" +
                                                       (dir / "all").string() + "' 2>&1");
    EXPECT_NE(all.find("Photos checked: 1 intact, 1 truncated, 1 damaged."), std::string::npos)
        << all;
    const std::string intact =
        duzez::test::CommandOutput(cli + "recover '" + card.string() + "' '" +
                                   (dir / "intact").string() + "' --intact-only 2>&1");
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(dir / "intact"))
        written.push_back(entry.path().filename().string());
    ASSERT_EQ(written.size(), 1u) << intact;
    EXPECT_EQ(ReadFile(dir / "intact" / written[0]), good);
    EXPECT_NE(intact.find("2 photos not intact left out"), std::string::npos) << intact;
}

}  // namespace
