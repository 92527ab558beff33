#pragma once

// Helpers shared by the FAT, exFAT and NTFS analyser tests: running the file-system phase,
// patching image bytes, unpacking the shared images and reading The Sleuth Kit's fls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "filesystems/found_object_tree.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::test {

// The little-endian number of `width` bytes at `at`.
inline std::uint64_t LeAt(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// `value` as `width` little-endian bytes.
inline std::string Le(std::uint64_t value, int width) {
    std::string out(static_cast<std::size_t>(width), '\0');
    for (int i = 0; i < width; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    return out;
}

// The image `from` with `bytes` written at `offset`, as the file `to` (which may be `from`).
inline std::filesystem::path Patched(const std::filesystem::path& from,
                                     const std::filesystem::path& to, std::uint64_t offset,
                                     const std::string& bytes) {
    if (from != to)
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::fstream disk(to, std::ios::in | std::ios::out | std::ios::binary);
    disk.seekp(static_cast<std::streamoff>(offset));
    disk.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return to;
}

// `bytes` appended to the file at `path`; returns them.
inline std::string AppendFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// One line of fls: "r/r * 12:\tname" is type r/r, deleted, inode 12, name.
struct FlsLine {
    std::string type;
    bool deleted = false;
    std::string inode;
    std::string name;
};

// The lines of `fls options image` that name an entry (have a tab).
inline std::vector<FlsLine> FlsLines(const std::string& options,
                                     const std::filesystem::path& image) {
    std::vector<FlsLine> lines;
    std::istringstream out(
        CommandOutput("fls " + options + " '" + image.string() + "' 2>/dev/null"));
    for (std::string line; std::getline(out, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        FlsLine entry;
        entry.type = line.substr(0, line.find(' '));
        entry.deleted = line.find(" * ") < tab;
        const std::size_t digit = line.find_first_of("0123456789", entry.type.size());
        if (digit < tab)
            entry.inode = line.substr(digit, line.find(':', digit) - digit);
        entry.name = line.substr(tab + 1);
        entry.name.erase(entry.name.find_last_not_of("\r\n") + 1);
        lines.push_back(std::move(entry));
    }
    return lines;
}

// The analyser tests' machine: images loaded and their file systems analysed.
class AnalyserTest : public MachineTest {
  protected:
    // The file-system phase, as the program runs it.
    void AnalyseFileSystem(devices::CVolume& volume) {
        app_->AnalysisRunning = true;
        computer_->AnalyseFileSystem(volume);
        app_->AnalysisRunning = false;
    }

    // The image loaded from the local disk, not analysed yet.
    devices::CVolume* Load(const std::filesystem::path& image) {
        std::string error;
        devices::CVolume* volume =
            Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(image, error);
        EXPECT_NE(volume, nullptr) << error;
        return volume;
    }

    devices::CVolume* Analyse(const std::filesystem::path& image) {
        devices::CVolume* volume = Load(image);
        if (volume != nullptr)
            AnalyseFileSystem(*volume);
        return volume;
    }

    using Listed = std::map<std::string, const filesystems::FoundObject*>;

    // The image analysed, and its listing (empty when it could not be loaded).
    std::pair<devices::CVolume*, Listed> AnalyseAndList(const std::filesystem::path& image) {
        devices::CVolume* volume = Analyse(image);
        return {volume, volume != nullptr ? Listing(*volume) : Listed{}};
    }

    // Partition `n` (from 1, in disk order) of a loaded disk.
    devices::CVolume* Partition(const devices::CVolume* disk, std::size_t n) {
        std::vector<devices::CVolume*> found;
        for (const auto& v : computer_->Volumes().Snapshot()) {
            if (disk != nullptr && v->GetParentVolume() == disk && v.get() != disk)
                found.push_back(v.get());
        }
        std::sort(found.begin(), found.end(),
                  [](auto* a, auto* b) { return a->StartOffset < b->StartOffset; });
        EXPECT_GE(found.size(), n) << "the partition was not found";
        return found.size() < n ? nullptr : found[n - 1];
    }

    // The sector phase's hits at `starts`, each parsed as a found block.
    void ParseHits(devices::CVolume& volume, std::initializer_list<std::uint64_t> starts) {
        app_->AnalysisRunning = true;
        for (const std::uint64_t start : starts) {
            filesystems::FoundObject block;
            block.Start = start;
            volume.FileSystem->ParseFoundBlock(block);
        }
        app_->AnalysisRunning = false;
    }

    // The sector phase on an analysed volume, with the shipped signatures.
    void RunSectorPhase(devices::CVolume& volume) {
        LoadShippedSignatures();
        app_->AnalysisRunning = true;
        computer_->AnalyseSectors(volume);
    }

    // `path`'s data as read back from the volume (empty, and a failure, when it is not
    // there or not listed).
    static std::string ReadListed(devices::CVolume* volume, const std::string& path,
                                  filesystems::ReadDamage* damage = nullptr) {
        if (volume == nullptr) {
            ADD_FAILURE() << "no volume";
            return {};
        }
        const Listed listing = Listing(*volume);
        return ExpectListed(listing, path) ? ReadBack(*volume, *listing.at(path), damage)
                                           : std::string();
    }

    // How many listed objects are named `name`.
    static std::size_t CountNamed(devices::CVolume& volume, const std::string& name) {
        std::size_t count = 0;
        for (const filesystems::FoundObject* object : volume.FoundObjectTree->ListedObjects())
            count += object->GetName() == name;
        return count;
    }

    // The image as a device on which every read touching `badSector` fails, analysed.
    devices::CVolume* AnalyseWithBadSector(const std::filesystem::path& image,
                                           std::uint64_t badSector) {
        opener_->Add("/card", [bytes = ReadFile(image), badSector] {
            return DeviceWithBadSector(bytes, badSector);
        });
        std::string error;
        devices::CVolume* volume = Computer(false).LoadImage("/card", error);
        EXPECT_NE(volume, nullptr) << error;
        if (volume != nullptr)
            AnalyseFileSystem(*volume);
        return volume;
    }

    // Checks that `path` is listed with every flag of `set` and none of `clear`; false when
    // it is not listed at all.
    static bool ExpectListed(const Listed& listing, const std::string& path, std::uint16_t set = 0,
                             std::uint16_t clear = 0) {
        const auto it = listing.find(path);
        if (it == listing.end()) {
            ADD_FAILURE() << path << " is not listed: " << testing::PrintToString(listing);
            return false;
        }
        EXPECT_EQ(it->second->Flags & (set | clear), set)
            << path << std::hex << ": flags 0x" << it->second->Flags;
        return true;
    }

    // Checks that `path` is listed (as ExpectListed) and its data reads back as `bytes`.
    static bool ExpectReadsBack(devices::CVolume& volume, const Listed& listing,
                                const std::string& path, const std::string& bytes,
                                std::uint16_t set = 0, std::uint16_t clear = 0) {
        if (!ExpectListed(listing, path, set, clear))
            return false;
        EXPECT_TRUE(ReadBack(volume, *listing.at(path)) == bytes) << path << ": data differs";
        return true;
    }

    // Checks that `object` reads back as `original` through one stream: in pieces of `sizes`
    // and then the rest, and afterwards 700 bytes from each offset of `seeks`.
    static void ExpectReadsInPieces(devices::CVolume& volume,
                                    const filesystems::FoundObject& object,
                                    const std::string& original,
                                    std::initializer_list<std::size_t> sizes,
                                    std::initializer_list<std::uint64_t> seeks = {}) {
        ASSERT_EQ(object.Size, original.size());
        filesystems::FoundObjectStream stream(volume, &object);
        const auto readPart = [&](std::size_t size) {
            std::vector<std::uint8_t> part(size);
            EXPECT_EQ(stream.Read(part), size);
            return std::string(part.begin(), part.end());
        };
        std::string read;
        for (const std::size_t size : sizes)
            read += readPart(size);
        read += readPart(original.size() - read.size());
        EXPECT_TRUE(read == original) << "read in pieces";
        for (const std::uint64_t at : seeks) {
            stream.SeekTo(at);
            EXPECT_TRUE(readPart(700) == original.substr(at, 700)) << "from " << at;
        }
    }

    // Path -> deleted mark, for every listed object.
    static std::map<std::string, bool> DeletedMarks(devices::CVolume& volume) {
        std::map<std::string, bool> marks;
        for (const auto& [path, object] : Listing(volume))
            marks[path] = object->Is(filesystems::ObjectFlags::Deleted);
        return marks;
    }

    // Whether the log has a line exactly `line`.
    bool LogHasLine(const std::string& line) {
        const auto lines = computer_->Log().Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // Whether some line of the log holds `text`.
    bool LogHas(const std::string& text) {
        for (const auto& line : computer_->Log().Lines()) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    // A gzipped image of the shared test data unpacked into the test's folder; empty when
    // the test data is not there.
    std::filesystem::path Unpacked(const std::string& name) {
        const auto packed = std::filesystem::path(DUZEZ_SOURCE_DIR_DEFAULT).parent_path() /
                            "shared" / "testdata" / name;
        if (!std::filesystem::exists(packed))
            return {};
        const auto image = dir_ / std::filesystem::path(name).stem();
        EXPECT_TRUE(RunCommand("(gzip -dc '" + packed.string() + "' > '" + image.string() + "')"))
            << name;
        return image;
    }
};

}  // namespace duzez::test
