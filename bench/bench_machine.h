#pragma once

// The application and machine objects of a benchmark: a store of its own in the
// temporary folder, no drive listing, no media monitor.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/app.h"
#include "devices/local_computer.h"

namespace duzez::bench {

inline core::CAppOptions BenchAppOptions() {
    const auto work = std::filesystem::temp_directory_path() / "duzez-bench-store";
    core::CAppOptions options;
    options.storePath = work / "registry.reg";
    options.languageFolder = work / "none";
    return options;
}

inline devices::LocalComputerOptions BenchMachineOptions() {
    devices::LocalComputerOptions machine;
    machine.listDrives = false;
    machine.followMediaChanges = false;
    return machine;
}

struct BenchMachine {
    BenchMachine() { app.LoadSettings(); }
    core::CApp app{BenchAppOptions()};
    devices::CLocalComputer computer{app, BenchMachineOptions()};
};

// A file of `bytes` pseudo-random bytes in the temporary folder, made once and kept for
// later runs (in the page cache after the first pass). No two 10 MiB blocks are alike.
inline std::filesystem::path BenchFile(const std::string& name, std::uint64_t bytes) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == bytes)
        return path;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(10 << 20);
    std::mt19937 random(1);
    for (auto& b : block)
        b = static_cast<char>(random());
    for (std::uint64_t written = 0; written < bytes; written += block.size()) {
        block[0] = static_cast<char>(written >> 20);
        out.write(block.data(), static_cast<std::streamsize>(
                                    std::min<std::uint64_t>(block.size(), bytes - written)));
    }
    return path;
}

// Runs a shell command, for the system tools a benchmark is compared with.
inline bool RunTool(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

}  // namespace duzez::bench
