#pragma once

// The project's source folder, for tests that read what it ships (data, schemas). The
// build names it; DUZEZ_SOURCE_DIR overrides that for a tree moved after the build.

#include <cstdlib>
#include <filesystem>

namespace duzez::test {

inline std::filesystem::path SourceDir() {
    const char* dir = std::getenv("DUZEZ_SOURCE_DIR");
    return dir != nullptr ? dir : DUZEZ_SOURCE_DIR_DEFAULT;
}

}  // namespace duzez::test
