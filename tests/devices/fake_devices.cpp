#include "tests/devices/fake_devices.h"

#include <cstdlib>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace duzez::test {

FakeSystem::FakeSystem(const std::filesystem::path& root) : root_(root) {
    std::filesystem::create_directories(sys() / "block");
    std::filesystem::create_directories(dev());
    WriteFile(mountInfo(), "");
}

void FakeSystem::AddDisk(const std::string& name, std::uint64_t sectors, bool removable,
                         const std::string& vendor, const std::string& model) {
    const auto dir = sys() / "block" / name;
    minors_[name] = nextMinor_;
    WriteFile(dir / "size", std::to_string(sectors) + "\n");
    WriteFile(dir / "removable", removable ? "1\n" : "0\n");
    WriteFile(dir / "dev", "8:" + std::to_string(nextMinor_++) + "\n");
    WriteFile(dir / "queue" / "logical_block_size", "512\n");
    if (!vendor.empty())
        WriteFile(dir / "device" / "vendor", vendor + "    \n");
    if (!model.empty())
        WriteFile(dir / "device" / "model", model + "  \n");
}

void FakeSystem::AddPartition(const std::string& disk, const std::string& name,
                              std::uint32_t number, std::uint64_t start, std::uint64_t sectors) {
    const auto dir = sys() / "block" / disk / name;
    minors_[name] = nextMinor_;
    WriteFile(dir / "partition", std::to_string(number) + "\n");
    WriteFile(dir / "start", std::to_string(start) + "\n");
    WriteFile(dir / "size", std::to_string(sectors) + "\n");
    WriteFile(dir / "dev", "8:" + std::to_string(nextMinor_++) + "\n");
}

void FakeSystem::AddLoop(const std::string& name, const std::string& backingFile) {
    AddDisk(name, 2048);
    std::filesystem::create_directories(sys() / "block" / name / "loop");
    if (!backingFile.empty())
        WriteFile(sys() / "block" / name / "loop" / "backing_file", backingFile + "\n");
}

void FakeSystem::AddMount(const std::string& device, const std::filesystem::path& mountPoint) {
    std::string escaped;
    for (const char c : mountPoint.string()) {
        escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    }
    std::ofstream out(mountInfo(), std::ios::app);
    out << "30 1 8:" << minors_.at(device) << " / " << escaped
        << " rw,relatime shared:1 - vfat /dev/" << device << " rw\n";
}

bool MakeFatImage(const std::filesystem::path& file, unsigned kilobytes, const std::string& label) {
    std::filesystem::remove(file);
    const std::string command = "mkfs.fat -C -n '" + label + "' '" + file.string() + "' " +
                                std::to_string(kilobytes) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace duzez::test
