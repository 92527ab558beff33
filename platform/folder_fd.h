#pragma once

// Folders and files opened relative to a folder's descriptor, without following links
// unless asked: what code that walks a user's folders (the Trash) opens them with.

#include <sys/types.h>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace duzez::platform {

UniqueFd OpenFolder(const std::filesystem::path& path);
// `name` in `dir`; a link is not followed unless `followLink`.
UniqueFd OpenSubfolder(int dir, const char* name, bool followLink = false);
// A file in `dir` to read, never through a link and never blocking on a FIFO.
UniqueFd OpenFileIn(int dir, const char* name);
// A new file in `dir`, failing when the name exists.
UniqueFd CreateFileIn(int dir, const char* name, mode_t mode);
UniqueFd Duplicate(int fd);
// The names in the folder behind `fd` but "." and "..".
std::vector<std::string> FolderNames(int fd);

}  // namespace duzez::platform
