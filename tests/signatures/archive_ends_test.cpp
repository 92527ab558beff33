#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "signatures/file_bytes.h"
#include "signatures/pdf_end.h"
#include "signatures/rar_end.h"
#include "signatures/sevenzip_end.h"
#include "signatures/sqlite_end.h"
#include "signatures/zip_end.h"
#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

using Walk = std::optional<std::uint64_t> (*)(FileBytes&);

constexpr std::uint64_t kStart = 4096;

using test::Le;
using test::Noise;

// A volume in memory: noise, the file at kStart, then the start of a JPEG and more noise,
// as when the next file on the disk begins right after.
struct Volume {
    explicit Volume(const std::string& file)
        : bytes(Noise(kStart, 1) + file + "\xFF\xD8\xFF\xE0" + Noise(65536, 2)) {}

    // The walk over the volume from kStart, limited to `limit` bytes (the rest of the
    // volume when 0).
    std::optional<std::uint64_t> End(Walk walk, std::uint64_t limit = 0) {
        const SectorReader read = test::MemoryReader(bytes, nullptr, &sectorsRead);
        FileBytes fileBytes(kStart, limit != 0 ? limit : bytes.size() - kStart, read);
        return walk(fileBytes);
    }

    std::string bytes;
    std::uint64_t sectorsRead = 0;
};

std::optional<std::uint64_t> EndOf(Walk walk, const std::string& file, std::uint64_t limit = 0) {
    return Volume(file).End(walk, limit);
}

// The bitwise CRC-32, independent of the table the walks use.
std::uint32_t Crc(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutLe(std::string& s, std::size_t at, std::uint64_t value, int size) {
    s.replace(at, static_cast<std::size_t>(size), Le(value, size));
}
std::string Patched(std::string s, std::size_t at, std::uint64_t value, int size) {
    PutLe(s, at, value, size);
    return s;
}
// A field of a file set to a value that breaks it, and why it does.
struct Patch {
    std::size_t at;
    int size;
    std::uint64_t value;
    const char* why;
};
std::uint64_t GetLe(const std::string& s, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return value;
}

// Runs a shell command whose own redirections stay its own.
bool Shell(const std::string& command) {
    return test::RunCommand("(" + command + ")");
}

std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// Files to archive: text that compresses, noise that does not, and a folder.
void MakeInputs(const test::TempFolder& dir) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " of a text that compresses well\n";
    test::WriteFile(dir / "in" / "text.txt", text);
    test::WriteFile(dir / "in" / "noise.bin", Noise(300000, 7));
    test::WriteFile(dir / "in" / "sub" / "small.txt", "small\n");
    test::WriteFile(dir / "stream.py",  // a ZIP to a stream it cannot seek
                    "import sys, zipfile\n"
                    "z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED)\n"
                    "z.write('text.txt')\n"
                    "z.write('noise.bin', compress_type=zipfile.ZIP_STORED)\n"
                    "with z.open('written.txt', 'w', force_zip64=len(sys.argv) > 1) as f:\n"
                    "    f.write(b'streamed ' * 5000)\n"
                    "z.close()\n");
    test::WriteFile(dir / "make.sql",  // what sqlite3 runs after a page size
                    "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, photo BLOB);\n"
                    "CREATE TABLE notes(body TEXT);\n"
                    "CREATE INDEX by_name ON people(name);\n"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                    "WHERE i < 300)\n"
                    "INSERT INTO people(name, photo) SELECT 'person ' || i, "
                    "randomblob(700) FROM n;\n"
                    "INSERT INTO notes VALUES('a note'), ('another');\n");
}

// ---- Archives made by real tools ------------------------------------------------------

// An archive a tool makes from MakeInputs' files; OUT in `command` is the archive's path,
// whose name ends in `extension` so that no tool adds its own.
struct ToolMade {
    std::string name;
    std::string tool;
    std::string extension;
    std::string command;
    Walk walk;
    bool refusesShortLimit;  // one byte less room than the file: no end
    bool refusesHalf;        // its first half, then the next file: no end
    std::function<void(const std::string&, const std::filesystem::path&)> more =
        [](const std::string&, const std::filesystem::path&) {};
};

class ToolMadeArchives : public ::testing::TestWithParam<ToolMade> {};

TEST_P(ToolMadeArchives, EndWhereTheFileEndsAndNotWhenCut) {
    const ToolMade& row = GetParam();
    if (!test::HaveTool(row.tool))
        GTEST_SKIP() << row.tool << " missing";
    test::TempFolder dir;
    MakeInputs(dir);
    const auto path = dir / ("out." + row.extension);
    std::string command = row.command;
    for (std::size_t at = 0; (at = command.find("OUT", at)) != std::string::npos;)
        command.replace(at, 3, Quote(path));
    ASSERT_TRUE(Shell("cd " + Quote(dir / "in") + " && " + command));
    const std::string file = test::ReadFile(path);
    EXPECT_EQ(EndOf(row.walk, file), file.size());
    if (row.refusesShortLimit) {
        EXPECT_FALSE(EndOf(row.walk, file, file.size() - 1));
    }
    if (row.refusesHalf) {
        EXPECT_FALSE(EndOf(row.walk, file.substr(0, file.size() / 2)));
    }
    row.more(file, path);
}

std::vector<ToolMade> ToolMadeRows() {
    const std::string inputs = " text.txt noise.bin sub";
    std::vector<ToolMade> rows = {
        {"zipWithComment", "zip", "zip",
         "zip -q -r OUT" + inputs + " && echo 'an archive comment' | zip -q -z OUT", ZipEnd, true,
         true, [](const std::string& file, const std::filesystem::path&) {
             ASSERT_NE(file.find("an archive comment"), std::string::npos);
             // Without the room for the whole comment, there is no end.
             EXPECT_FALSE(EndOf(ZipEnd, file.substr(0, file.size() - 30)));
         }}};
    // Either CRC broken leaves no end.
    const auto crcs = [](const std::string& file, const std::filesystem::path&) {
        std::string bad = file;
        bad[file.size() - 3] ^= 0x40;
        EXPECT_FALSE(EndOf(SevenZipEnd, bad)) << "next header CRC";
        bad = file;
        bad[20] ^= 0x01;
        EXPECT_FALSE(EndOf(SevenZipEnd, bad)) << "start header CRC";
    };
    for (const auto& [name, options] : {std::pair{"sevenZip", ""},
                                        {"sevenZipPlainHeader", "-mhc=off"},
                                        {"sevenZipStored", "-mx=0"}})
        rows.push_back({name, "7z", "7z", std::string("7z a -bd ") + options + " OUT" + inputs,
                        SevenZipEnd, true, true, crcs});
    for (const std::string version : {"4", "5"})
        rows.push_back({"rar" + version, "rar", "rar", "rar a -idq -ma" + version + " OUT" + inputs,
                        RarEnd, false, true});
    for (const int pageSize : {1024, 4096, 65536}) {
        const std::string size = std::to_string(pageSize);
        rows.push_back({"sqlite" + size, "sqlite3", "db",
                        "(echo 'PRAGMA page_size=" + size + ";'; cat ../make.sql) | sqlite3 OUT",
                        SqliteEnd, true, false,
                        [pageSize](const std::string& file, const std::filesystem::path&) {
                            EXPECT_GT(file.size(), static_cast<std::size_t>(pageSize));
                            EXPECT_EQ(file.size() % pageSize, 0u);
                        }});
    }
    // Written to a pipe, so that sizes follow the data: Info-ZIP with one entry from a pipe
    // too, and Python, plain and ZIP64.
    const auto streamed = [](const std::string& file, const std::filesystem::path& path) {
        ASSERT_GT(file.size(), 30u);
        // The case under test: the first local header does not know its size.
        ASSERT_TRUE(file[6] & 0x08);
        ASSERT_TRUE(Shell("unzip -tq " + Quote(path)));
    };
    for (const auto& [name, tool, command] : std::vector<std::array<std::string, 3>>{
             {"zipToPipe", "zip", "zip -q - text.txt noise.bin | cat > OUT"},
             {"zipFromPipe", "zip", "cat noise.bin | zip -q - - | cat > OUT"},
             {"pythonToPipe", "python3", "python3 ../stream.py | cat > OUT"},
             {"pythonToPipe64", "python3", "python3 ../stream.py zip64 | cat > OUT"}})
        rows.push_back({name, tool, "zip", command, ZipEnd, false, true, streamed});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolMadeArchives, ::testing::ValuesIn(ToolMadeRows()),
                         [](const auto& made) { return made.param.name; });

// ---- ZIP ----------------------------------------------------------------------------

TEST(ZipEnd, CorruptedCentralDirectoryHasNoEnd) {
    if (!test::HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    test::TempFolder dir;
    MakeInputs(dir);
    ASSERT_TRUE(Shell("cd " + Quote(dir / "in") + " && zip -q -r " + Quote(dir / "a.zip") +
                      " text.txt noise.bin sub"));
    const std::string file = test::ReadFile(dir / "a.zip");
    ASSERT_EQ(EndOf(ZipEnd, file), file.size());
    const std::size_t central = file.find("PK\x01\x02");
    const std::size_t second = file.find("PK\x01\x02", central + 4);
    const std::size_t end = file.rfind("PK\x05\x06");
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const auto field = [&file](std::size_t at, int size) { return GetLe(file, at, size); };
    const Patch patches[] = {
        {second + 42, 4, field(second + 42, 4) + 1, "central entry points beside its local header"},
        {second + 42, 4, field(central + 42, 4), "two central entries for one local header"},
        {central + 20, 4, field(central + 20, 4) + 1, "sizes disagree"},
        {second + 1, 1, 'X', "broken central signature"},
        {end + 16, 4, field(end + 16, 4) - 1, "directory offset"},
        {end + 12, 4, field(end + 12, 4) + 46, "directory size"},
        {end + 10, 2, field(end + 10, 2) + 1, "entry count"},
    };
    for (const auto& p : patches)
        EXPECT_FALSE(EndOf(ZipEnd, Patched(file, p.at, p.value, p.size))) << p.why;
    EXPECT_FALSE(EndOf(ZipEnd, Patched(file, end + 20, 0xFFFF, 2), file.size() + 1000))
        << "a comment beyond the limit";
}

TEST(ZipEnd, Zip64Archives) {
    if (!test::HaveTool("python3"))
        GTEST_SKIP() << "python3 missing";
    test::TempFolder dir;
    const std::string python =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    if sys.argv[2] == 'forced':\n"
        "        for i in range(3):\n"
        "            with z.open('f%d.txt' % i, 'w', force_zip64=True) as f:\n"
        "                f.write(b'zip64 entry %d ' % i * 1000)\n"
        "        z.comment = b'zip64 comment'\n"
        "    else:\n"
        "        for i in range(66000):\n"
        "            z.writestr('%d' % i, b'')\n";
    test::WriteFile(dir / "make.py", python);
    ASSERT_TRUE(
        Shell("python3 " + Quote(dir / "make.py") + " " + Quote(dir / "forced.zip") + " forced"));
    ASSERT_TRUE(
        Shell("python3 " + Quote(dir / "make.py") + " " + Quote(dir / "many.zip") + " many"));
    const std::string forced = test::ReadFile(dir / "forced.zip");
    ASSERT_EQ(GetLe(forced, 18, 4), 0xFFFFFFFFu) << "sizes in the ZIP64 extra field";
    EXPECT_EQ(EndOf(ZipEnd, forced), forced.size());
    const std::string many = test::ReadFile(dir / "many.zip");
    ASSERT_NE(many.find("PK\x06\x06"), std::string::npos) << "a ZIP64 end record";
    EXPECT_EQ(EndOf(ZipEnd, many), many.size());
    EXPECT_FALSE(EndOf(ZipEnd, many.substr(0, many.size() - 22)));
    // The ZIP64 record must agree with the directory walked.
    const std::size_t record = many.rfind("PK\x06\x06");
    EXPECT_FALSE(EndOf(ZipEnd, Patched(many, record + 32, GetLe(many, record + 32, 8) - 1, 8)));
    EXPECT_FALSE(EndOf(ZipEnd, Patched(many, many.rfind("PK\x06\x07") + 8, record + 1, 8)));
}

TEST(ZipEnd, OfficeDocumentsBuiltOnZip) {
    if (!test::HaveTool("python3"))
        GTEST_SKIP() << "python3 missing";
    test::TempFolder dir;
    const std::string python =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    if sys.argv[2] == 'odt':\n"
        "        z.writestr('mimetype', 'application/vnd.oasis.opendocument.text',\n"
        "                   compress_type=zipfile.ZIP_STORED)\n"
        "        z.writestr('META-INF/manifest.xml', '<manifest/>' * 50)\n"
        "        z.writestr('content.xml', '<office:text>words</office:text>' * 400)\n"
        "    else:\n"
        "        z.writestr('[Content_Types].xml', '<Types/>' * 80)\n"
        "        z.writestr('_rels/.rels', '<Relationships/>' * 40)\n"
        "        z.writestr('word/document.xml', '<w:p>paragraph</w:p>' * 900)\n";
    test::WriteFile(dir / "make.py", python);
    for (const char* kind : {"odt", "docx"}) {
        const auto path = dir / (std::string("a.") + kind);
        ASSERT_TRUE(Shell("python3 " + Quote(dir / "make.py") + " " + Quote(path) + " " + kind));
        const std::string file = test::ReadFile(path);
        EXPECT_EQ(EndOf(ZipEnd, file), file.size()) << kind;
        // The next file is another document: the walk stops at this one's end.
        Volume twice(file + file);
        EXPECT_EQ(twice.End(ZipEnd), file.size()) << kind;
    }
}

TEST(ZipEnd, ApkSigningBlockBeforeTheDirectory) {
    if (!test::HaveTool("python3"))
        GTEST_SKIP() << "python3 missing";
    test::TempFolder dir;
    test::WriteFile(dir / "make.py",
                    "import sys, zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                    "    z.writestr('AndroidManifest.xml', b'manifest' * 100)\n"
                    "    z.writestr('classes.dex', b'dex' * 300)\n");
    ASSERT_TRUE(Shell("python3 " + Quote(dir / "make.py") + " " + Quote(dir / "a.apk")));
    const std::string plain = test::ReadFile(dir / "a.apk");
    const std::size_t central = plain.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    // One id-value pair, its size on both sides, then the magic.
    const std::string pair = Le(4 + 20, 8) + Le(0x7109871a, 4) + std::string(20, 'v');
    const std::uint64_t blockSize = pair.size() + 8 + 16;
    const std::string block = Le(blockSize, 8) + pair + Le(blockSize, 8) + "APK Sig Block 42";
    std::string apk = plain.substr(0, central) + block + plain.substr(central);
    const std::size_t end = apk.rfind("PK\x05\x06");
    PutLe(apk, end + 16, central + block.size(), 4);
    EXPECT_EQ(EndOf(ZipEnd, apk), apk.size());
    EXPECT_FALSE(EndOf(ZipEnd, Patched(apk, central + block.size() - 1, '3', 1))) << "no magic";
    EXPECT_FALSE(EndOf(ZipEnd, Patched(apk, central + block.size() - 24, blockSize + 1, 8)))
        << "the two sizes differ";
}

TEST(ZipEnd, OneLocalEntryListedTwiceHasNoEnd) {
    if (!test::HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    test::TempFolder dir;
    test::WriteFile(dir / "in" / "a.txt", "same\n");
    test::WriteFile(dir / "in" / "b.txt", "same\n");
    ASSERT_TRUE(Shell("cd " + Quote(dir / "in") + " && zip -q -X " + Quote(dir / "a.zip") +
                      " a.txt b.txt"));
    const std::string file = test::ReadFile(dir / "a.zip");
    ASSERT_EQ(EndOf(ZipEnd, file), file.size());
    const std::size_t second = file.find("PK\x01\x02", file.find("PK\x01\x02") + 4);
    ASSERT_NE(second, std::string::npos);
    EXPECT_FALSE(EndOf(ZipEnd, Patched(file, second + 42, 0, 4)));
}

// A stored archive whose data descriptors have no signature, as some writers make them.
std::string UnsignedDescriptors(bool zip64) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"one.txt", "first entry\n"}, {"two.bin", Noise(5000, 11)}, {"three.txt", ""}};
    std::string zip;
    std::string central;
    for (const auto& [name, data] : files) {
        const std::size_t offset = zip.size();
        const std::string extra = zip64 ? Le(1, 2) + Le(16, 2) + Le(0, 8) + Le(0, 8) : "";
        const std::uint32_t marker = zip64 ? 0xFFFFFFFFu : 0;
        zip += "PK\x03\x04" + Le(zip64 ? 45 : 20, 2) + Le(0x0008, 2) + Le(0, 2) + Le(0, 4) +
               Le(0, 4) + Le(marker, 4) + Le(marker, 4) + Le(name.size(), 2) + Le(extra.size(), 2) +
               name + extra + data + Le(Crc(data), 4) + Le(data.size(), zip64 ? 8 : 4) +
               Le(data.size(), zip64 ? 8 : 4);
        central += "PK\x01\x02" + Le(45, 2) + Le(zip64 ? 45 : 20, 2) + Le(0x0008, 2) + Le(0, 2) +
                   Le(0, 4) + Le(Crc(data), 4) + Le(data.size(), 4) + Le(data.size(), 4) +
                   Le(name.size(), 2) + Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0, 4) +
                   Le(offset, 4) + name;
    }
    return zip + central + "PK\x05\x06" + Le(0, 4) + Le(files.size(), 2) + Le(files.size(), 2) +
           Le(central.size(), 4) + Le(zip.size(), 4) + Le(0, 2);
}

TEST(ZipEnd, DescriptorsWithoutSignature) {
    for (const bool zip64 : {false, true}) {
        const std::string file = UnsignedDescriptors(zip64);
        if (test::HaveTool("unzip")) {
            test::TempFolder dir;
            test::WriteFile(dir / "a.zip", file);
            ASSERT_TRUE(Shell("unzip -tq " + Quote(dir / "a.zip"))) << zip64;
        }
        EXPECT_EQ(EndOf(ZipEnd, file), file.size()) << zip64;
        EXPECT_FALSE(EndOf(ZipEnd, file.substr(0, file.size() - 23))) << zip64;
    }
}

TEST(ZipEnd, HostileLocalSizeIsRefusedWithoutReadingIt) {
    std::string local = "PK\x03\x04" + Le(20, 2) + Le(0, 2) + Le(0, 2) + Le(0, 4) + Le(0, 4) +
                        Le(0xFFFFFFF0u, 4) + Le(0xFFFFFFF0u, 4) + Le(5, 2) + Le(0, 2) + "a.txt";
    Volume volume(local + Noise(1000, 3));
    EXPECT_FALSE(volume.End(ZipEnd));
    EXPECT_LE(volume.sectorsRead, 256u);
    // A name longer than what is left.
    std::string name = local;
    PutLe(name, 18, 0, 4);
    PutLe(name, 26, 0xFFFF, 2);
    EXPECT_FALSE(EndOf(ZipEnd, name, 1024));
    // A descriptor that is never found: the search stops at the limit.
    std::string streamed = local;
    PutLe(streamed, 6, 0x0008, 2);
    Volume search(streamed + Noise(200000, 4));
    EXPECT_FALSE(search.End(ZipEnd, 100000));
    EXPECT_LE(search.sectorsRead, 2 * 128u + 100000 / 512);
}

// ---- PDF ----------------------------------------------------------------------------

// A small PDF with a correct cross-reference table.
std::string HandWrittenPdf() {
    const std::string content = "BT /F1 24 Tf 40 100 Td (Hello) Tj ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"};
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        const std::string number = std::to_string(offset);
        pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// The text after the last `key ` in `pdf` up to the next delimiter.
std::string LastValue(const std::string& pdf, const std::string& key, const char* until) {
    const std::size_t at = pdf.rfind(key);
    if (at == std::string::npos)
        return "";
    const std::size_t start = at + key.size();
    return pdf.substr(start, pdf.find_first_of(until, start) - start);
}

// `pdf` with an incremental update that adds an object.
std::string Updated(const std::string& pdf) {
    const std::string previous = LastValue(pdf, "startxref\n", "\r\n");
    const std::uint64_t size = std::stoull(LastValue(pdf, "/Size ", " />\r\n"));
    const std::string root = LastValue(pdf, "/Root ", "/>");
    std::string update = pdf;
    const std::size_t object = update.size();
    update += std::to_string(size) + " 0 obj\n<< /Producer (an update) >>\nendobj\n";
    const std::size_t xref = update.size();
    const std::string number = std::to_string(object);
    update += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(size) + " 1\n" +
              std::string(10 - number.size(), '0') + number + " 00000 n \ntrailer\n<< /Size " +
              std::to_string(size + 1) + " /Root " + root + " /Prev " + previous +
              " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return update;
}

TEST(PdfEnd, HandWrittenAndRewrittenByQpdf) {
    const std::string hand = HandWrittenPdf();
    EXPECT_EQ(EndOf(PdfEnd, hand), hand.size());
    if (!test::HaveTool("qpdf"))
        GTEST_SKIP() << "qpdf missing";
    test::TempFolder dir;
    test::WriteFile(dir / "hand.pdf", hand);
    ASSERT_TRUE(Shell("qpdf --check " + Quote(dir / "hand.pdf")));
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"plain.pdf", ""},
        {"streams.pdf", "--object-streams=generate"},
        {"linear.pdf", "--linearize"},
        {"pages.pdf",
         "--empty --pages " + Quote(dir / "hand.pdf") + " " + Quote(dir / "hand.pdf") + " --"}};
    for (const auto& [name, options] : variants) {
        const std::string input = options.starts_with("--empty") ? "" : Quote(dir / "hand.pdf");
        ASSERT_TRUE(Shell("qpdf " + options + " " + input + " " + Quote(dir / name))) << name;
        const std::string pdf = test::ReadFile(dir / name);
        EXPECT_EQ(EndOf(PdfEnd, pdf), pdf.size()) << name;
        EXPECT_FALSE(EndOf(PdfEnd, pdf.substr(0, pdf.size() - 8))) << name;
        // Another PDF right after is another file.
        Volume twice(pdf + pdf);
        EXPECT_EQ(twice.End(PdfEnd), pdf.size()) << name;
    }
    // A linearized file has a first %%EOF whose trailer points nowhere, and its last
    // trailer points back at the first-page table. Some writers point the first one at that
    // table too.
    std::string linear = test::ReadFile(dir / "linear.pdf");
    const std::size_t first = linear.find("startxref\n0\n%%EOF");
    ASSERT_NE(first, std::string::npos);
    const std::size_t table = linear.find("\nxref\n") + 1;
    ASSERT_LT(table, first);
    linear.replace(first + 10, 1, std::to_string(table));
    EXPECT_EQ(EndOf(PdfEnd, linear), linear.size());
}

TEST(PdfEnd, IncrementalUpdatesEndAtTheLastSection) {
    const std::string original = HandWrittenPdf();
    const std::string updated = Updated(original);
    EXPECT_EQ(EndOf(PdfEnd, updated), updated.size());
    const std::string twice = Updated(updated);
    EXPECT_EQ(EndOf(PdfEnd, twice), twice.size());
    // Cut inside the update: what is left is the original version.
    EXPECT_EQ(EndOf(PdfEnd, updated.substr(0, original.size() + 30)), original.size());
    if (!test::HaveTool("qpdf"))
        GTEST_SKIP() << "qpdf missing";
    test::TempFolder dir;
    test::WriteFile(dir / "hand.pdf", original);
    ASSERT_TRUE(Shell("qpdf --object-streams=generate " + Quote(dir / "hand.pdf") + " " +
                      Quote(dir / "streams.pdf")));
    for (const std::string& base : {original, test::ReadFile(dir / "streams.pdf")}) {
        const std::string file = Updated(base);
        test::WriteFile(dir / "updated.pdf", file);
        ASSERT_TRUE(Shell("qpdf --check " + Quote(dir / "updated.pdf")));
        EXPECT_EQ(EndOf(PdfEnd, file), file.size());
    }
}

TEST(PdfEnd, BrokenTrailersHaveNoEnd) {
    const std::string pdf = HandWrittenPdf();
    const std::size_t start = pdf.rfind("startxref");
    // An object whose data, not its dictionary, says /XRef.
    const std::string mention =
        "%PDF-1.5\n1 0 obj\n<< /Length 12 >>\nstream\n/Type /XRef\nendstream\n"
        "endobj\nstartxref\n9\n%%EOF\n";
    for (const auto& [why, bad] : std::vector<std::pair<std::string, std::string>>{
             {"startxref points elsewhere", std::string(pdf).replace(start + 10, 1, "9")},
             {"no startxref", std::string(pdf).replace(start, 9, "startxrex")},
             {"no table", "%PDF-1.4\n%%EOF\n"},
             {"a table past the end", "%PDF-1.4\nstartxref\n99999999999\n%%EOF\n"},
             {"not a pdf", "not a pdf" + pdf},
             {"/XRef in the data", mention}})
        EXPECT_FALSE(EndOf(PdfEnd, bad)) << why;
    std::string dictionary = mention;
    dictionary.replace(dictionary.find("<< /Length"), 2, "<</Type/XRef");
    EXPECT_EQ(EndOf(PdfEnd, dictionary), dictionary.size()) << "the same, said in its dictionary";
    // The section after an update must point into the update.
    const std::string updated = Updated(pdf);
    const std::string first = pdf.substr(start + 10, pdf.find('\n', start + 10) - start - 10);
    const std::string bad =
        updated.substr(0, updated.rfind("startxref")) + "startxref\n" + first + "\n%%EOF\n";
    EXPECT_EQ(EndOf(PdfEnd, bad), pdf.size());
}

// ---- 7z -----------------------------------------------------------------------------

TEST(SevenZipEnd, HostileStartHeaders) {
    // A start header whose CRC is right and whose next header lies beyond the limit.
    const auto header = [](std::uint64_t offset, std::uint64_t size) {
        const std::string rest = Le(offset, 8) + Le(size, 8) + Le(0, 4);
        return std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + Le(Crc(rest), 4) + rest;
    };
    Volume far(header(1ull << 40, 100));
    EXPECT_FALSE(far.End(SevenZipEnd));
    EXPECT_LE(far.sectorsRead, 128u);
    // Starts as a header would, so that only its size refuses it.
    Volume huge(header(0, 1ull << 30) + "\x01" + Noise(200000, 5));
    EXPECT_FALSE(huge.End(SevenZipEnd, 2ull << 30)) << "a header too large to check";
    EXPECT_LE(huge.sectorsRead, 128u);
    EXPECT_FALSE(EndOf(SevenZipEnd, header(~0ull - 8, 100)));
    EXPECT_FALSE(EndOf(SevenZipEnd, header(100, ~0ull - 50)));
    // An empty archive is its start header.
    EXPECT_EQ(EndOf(SevenZipEnd, header(0, 0)), 32u);
}

// ---- RAR ----------------------------------------------------------------------------

std::string Rar4Block(std::uint8_t type, std::uint16_t flags, const std::string& fields) {
    const std::string body =
        std::string(1, static_cast<char>(type)) + Le(flags, 2) + Le(7 + fields.size(), 2) + fields;
    return Le(Crc(body) & 0xFFFF, 2) + body;
}

// A RAR 4 archive of stored files.
std::string Rar4(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string rar = std::string("Rar!\x1A\x07\x00", 7) + Rar4Block(0x73, 0, Le(0, 2) + Le(0, 4));
    for (const auto& [name, data] : files) {
        const std::string fields = Le(data.size(), 4) + Le(data.size(), 4) + Le(3, 1) +
                                   Le(Crc(data), 4) + Le(0x5A2B6000, 4) + Le(29, 1) + Le(0x30, 1) +
                                   Le(name.size(), 2) + Le(0x81A4, 4) + name;
        rar += Rar4Block(0x74, 0x8000, fields) + data;
    }
    return rar + Rar4Block(0x7B, 0x4000, "");
}

std::string Vint(std::uint64_t value) {
    std::string out;
    do {
        std::uint8_t b = value & 0x7F;
        value >>= 7;
        if (value != 0)
            b |= 0x80;
        out += static_cast<char>(b);
    } while (value != 0);
    return out;
}

std::string Rar5Block(const std::string& header) {
    const std::string sized = Vint(header.size()) + header;
    return Le(Crc(sized), 4) + sized;
}

// A RAR 5 archive of stored files.
std::string Rar5(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string rar =
        std::string("Rar!\x1A\x07\x01\x00", 8) + Rar5Block(Vint(1) + Vint(0) + Vint(0));
    for (const auto& [name, data] : files) {
        // Type, flags (data area), data size, file flags (CRC), size, attributes, CRC,
        // compression (stored), host (Unix), name.
        const std::string header = Vint(2) + Vint(2) + Vint(data.size()) + Vint(4) +
                                   Vint(data.size()) + Vint(0644) + Le(Crc(data), 4) + Vint(0) +
                                   Vint(1) + Vint(name.size()) + name;
        rar += Rar5Block(header) + data;
    }
    return rar + Rar5Block(Vint(5) + Vint(0) + Vint(0));
}

TEST(RarEnd, StoredArchivesOfBothVersions) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"noise.bin", Noise(70000, 9)}, {"empty.txt", ""}, {"text.txt", "some text\n"}};
    for (const std::string& rar : {Rar4(files), Rar5(files)}) {
        const bool five = rar[6] == 1;
        if (test::HaveTool("7z")) {
            // A real reader takes the archive as well formed.
            test::TempFolder dir;
            test::WriteFile(dir / "a.rar", rar);
            EXPECT_TRUE(Shell("7z t " + Quote(dir / "a.rar"))) << five;
        }
        EXPECT_EQ(EndOf(RarEnd, rar), rar.size()) << five;
        EXPECT_FALSE(EndOf(RarEnd, rar, rar.size() - 1)) << five;
        EXPECT_FALSE(EndOf(RarEnd, rar.substr(0, rar.size() / 2))) << five;
        EXPECT_FALSE(EndOf(RarEnd, rar.substr(0, rar.size() - 8))) << five << " no end block";
        // A header whose CRC does not match.
        std::string bad = rar;
        const std::size_t name = rar.find("text.txt");
        bad[name] = 'T';
        EXPECT_FALSE(EndOf(RarEnd, bad)) << five;
    }
}

TEST(RarEnd, HostileSizes) {
    // A file block that claims 4 GiB of data.
    std::string rar4 =
        std::string("Rar!\x1A\x07\x00", 7) + Rar4Block(0x73, 0, Le(0, 6)) +
        Rar4Block(0x74, 0x8000,
                  Le(0xFFFFFFF0u, 4) + std::string(15, '\0') + Le(1, 2) + Le(0, 4) + "x");
    Volume four(rar4);
    EXPECT_FALSE(four.End(RarEnd));
    EXPECT_LE(four.sectorsRead, 128u);
    // RAR 5: a data size of 2^62, and a header size beyond what headers may have.
    std::string rar5 = std::string("Rar!\x1A\x07\x01\x00", 8) +
                       Rar5Block(Vint(1) + Vint(0) + Vint(0)) +
                       Rar5Block(Vint(3) + Vint(2) + Vint(1ull << 62) + "service");
    Volume five(rar5);
    EXPECT_FALSE(five.End(RarEnd));
    EXPECT_LE(five.sectorsRead, 128u);
    std::string big = std::string("Rar!\x1A\x07\x01\x00", 8) + Le(0, 4) + Vint(1ull << 40);
    EXPECT_FALSE(EndOf(RarEnd, big));
    // Encrypted headers cannot be walked.
    EXPECT_FALSE(EndOf(RarEnd, std::string("Rar!\x1A\x07\x01\x00", 8) +
                                   Rar5Block(Vint(4) + Vint(0) + Vint(0) + Vint(0) + Vint(15) +
                                             std::string(16, 's')) +
                                   Rar5Block(Vint(5) + Vint(0) + Vint(0))));
}

// ---- SQLite -------------------------------------------------------------------------

TEST(SqliteEnd, HostileHeaders) {
    // A header of its own: 4 pages of 4096 bytes, current.
    std::string header = std::string("SQLite format 3\0", 16) +
                         std::string("\x10\x00\x01\x01\x00\x40\x20\x20", 8) + std::string(76, '\0');
    header[27] = 7;  // change counter
    header[31] = 4;  // pages
    header[95] = 7;  // version-valid-for
    ASSERT_EQ(header.size(), 100u);
    EXPECT_EQ(EndOf(SqliteEnd, header), 4u * 4096);
    const Patch patches[] = {{16, 2, 0x0300, "page size 3"},
                             {16, 1, 0x0C, "page size 3072"},
                             {95, 1, 6, "a stale page count"},
                             {31, 1, 0, "no page count"},
                             {21, 1, 65, "payload fraction"}};
    for (const auto& p : patches)
        EXPECT_FALSE(EndOf(SqliteEnd, Patched(header, p.at, p.value, p.size))) << p.why;
    const std::string large = Patched(header, 16, 0x0100, 2);
    EXPECT_EQ(EndOf(SqliteEnd, large, 1 << 20), 4u * 65536) << "1 means 65536";
    EXPECT_FALSE(EndOf(SqliteEnd, large, 4 * 65536 - 1));
    Volume huge(Patched(header, 28, 0xFF, 1));
    EXPECT_FALSE(huge.End(SqliteEnd)) << "larger than the volume";
    EXPECT_LE(huge.sectorsRead, 128u);
}

}  // namespace
}  // namespace duzez::signatures
