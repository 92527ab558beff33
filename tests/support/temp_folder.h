#pragma once

// Test helpers: a temporary folder removed at the end of the test, and an environment
// variable set for the test's duration.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace duzez::test {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);
std::vector<std::uint8_t> ToUtf16LeWithBom(const std::string& ascii);

// Runs a shell command quietly; true when it exits with 0.
bool RunCommand(const std::string& command);
bool HaveTool(const std::string& name);
// What a shell command prints on stdout.
std::string CommandOutput(const std::string& command);
// `size` bytes that differ from any other seed's and repeat nowhere a sector apart.
std::string Pattern(std::size_t size, unsigned seed);
// `size` bytes of noise from a seeded generator: the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed);
// A sparse file of `bytes`.
void MakeSparseFile(const std::filesystem::path& path, std::uint64_t bytes);

}  // namespace duzez::test
