#pragma once

// Where recovered files are written. The destination is opened once and everything below
// it is reached relative to that descriptor without following symbolic links, so no name
// from an analysed volume and no link already in the destination can redirect a write.
// Files are written under a temporary name and put in place only when complete, and an
// existing file is never replaced, truncated or deleted.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/file_owner.h"
#include "platform/unique_fd.h"

namespace duzez::platform {

class OutputFolder {
  public:
    // Creates `path` (and its parents) when missing, opens it and makes sure a file can
    // be created in it; null with the reason otherwise. Every folder and file this object
    // and its children create is given to `owner`, when set.
    static std::unique_ptr<OutputFolder> Open(const std::filesystem::path& path, std::string& error,
                                              const std::optional<FileOwner>& owner = {});

    // The folder `name` inside this one, created when missing. Null with errno set when
    // it cannot be made or opened; ENOTDIR when the name is taken by something that is
    // not a folder (a file, a link); EINVAL for a name that is not one component.
    std::unique_ptr<OutputFolder> Child(const std::string& name) const;

    int Descriptor() const { return fd_.get(); }
    const std::filesystem::path& Path() const { return path_; }
    const std::optional<FileOwner>& Owner() const { return owner_; }

  private:
    OutputFolder(UniqueFd fd, std::filesystem::path path, std::optional<FileOwner> owner)
        : fd_(std::move(fd)), path_(std::move(path)), owner_(owner) {}

    UniqueFd fd_;
    std::filesystem::path path_;
    std::optional<FileOwner> owner_;
};

// A file being written under a temporary name in an OutputFolder; removed unless placed.
class PartFile {
  public:
    enum class Placed { Done, SameFileExists, NameTaken, Failed };

    // Null with errno set when it cannot be created.
    static std::unique_ptr<PartFile> Create(const OutputFolder& folder);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // 0, or the errno that stopped the write; `written` is how much reached the file.
    int Write(std::span<const std::uint8_t> bytes, std::size_t& written);
    // Access and modification times as FILETIME values (100 ns since 1601); 0 keeps one.
    bool SetTimes(std::uint64_t accessed, std::uint64_t modified);
    // Ends the writing: 0, or the errno of a write the file system reports only now.
    int Close();
    // Gives the file `name` unless that name exists. An existing regular file with the
    // same bytes is SameFileExists (and this file is removed); anything else there is
    // NameTaken. Failed sets errno (EINVAL for a name that is not one component).
    Placed Place(const std::string& name);
    // Removes the temporary file now. Safe from another thread while the file is being
    // written: it only unlinks the name.
    void Discard();

  private:
    PartFile(const OutputFolder& folder, UniqueFd fd, std::string name)
        : folder_(folder), fd_(std::move(fd)), name_(std::move(name)) {}
    bool SameContentAs(const std::string& name) const;

    const OutputFolder& folder_;
    UniqueFd fd_;
    std::string name_;
    std::atomic<bool> gone_{false};  // placed or discarded: the temporary name is free
};

}  // namespace duzez::platform
