#pragma once

// The application and machine objects of a benchmark: a store of its own in the
// temporary folder, no drive listing, no media monitor.

#include <filesystem>

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

}  // namespace duzez::bench
