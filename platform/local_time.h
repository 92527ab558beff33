#pragma once

#include <chrono>
#include <string>

namespace duzez::platform {

// The user's short date and time for their locale (LC_TIME), as "<date> <time>".
std::string FormatLocalDateTime(std::chrono::system_clock::time_point when);

}  // namespace duzez::platform
