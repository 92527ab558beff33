#pragma once

// The regedit export format ("Windows Registry Editor Version 5.00"), parsed into the
// keys and values it sets or deletes, and written back. Only keys under
// HKEY_CURRENT_USER are accepted: the store is per user.

#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_value.h"

namespace duzez::platform {

struct RegValueEntry {
    std::string name;  // empty for the default value "@"
    bool remove = false;
    RegValue value;
};

struct RegKeyEntry {
    std::string path;  // below HKEY_CURRENT_USER, components joined by '\'; empty = the root
    bool remove = false;
    std::vector<RegValueEntry> values;
};

struct RegDocument {
    std::vector<RegKeyEntry> keys;
};

struct RegParseError {
    int line = 0;
    std::string message;
};

// Text is UTF-8 (decode UTF-16 files first). On failure nothing of `out` is meaningful.
bool ParseRegText(std::string_view text, RegDocument& out, RegParseError& error);

std::string FormatRegText(const RegDocument& document);

}  // namespace duzez::platform
