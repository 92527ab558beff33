#include "cli/time_text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace duzez::cli {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kUnixEpochSeconds = 11644473600;

// The fields of `fileTime`: in this machine's zone for a UTC time, as stored for a local
// one. False for a time the C library cannot hold.
bool Fields(std::uint64_t fileTime, bool utc, std::tm& fields) {
    const auto seconds = static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds;
    const auto when = static_cast<std::time_t>(seconds);
    return (utc ? ::localtime_r(&when, &fields) : ::gmtime_r(&when, &fields)) != nullptr;
}

}  // namespace

nlohmann::ordered_json IsoTime(std::uint64_t fileTime, bool utc) {
    std::tm fields{};
    if (fileTime == 0 || !Fields(fileTime, utc, fields))
        return nullptr;
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
    std::string iso = text;
    if (utc) {
        const long offset = fields.tm_gmtoff;
        char zone[48];
        std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                      std::labs(offset) / 3600, std::labs(offset) / 60 % 60);
        iso += zone;
    }
    return iso;
}

std::string IsoTimeNow() {
    const auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
            std::chrono::system_clock::now().time_since_epoch())
            .count();
    const nlohmann::ordered_json time =
        IsoTime(static_cast<std::uint64_t>(kUnixEpochSeconds * kTicksPerSecond) +
                    static_cast<std::uint64_t>(ticks),
                true);
    return time.is_string() ? time.get<std::string>() : std::string();
}

const char* TimeBasisName(const filesystems::FoundObject& object) {
    return object.Is(filesystems::ObjectFlags::UtcTimes) ? "utc" : "local";
}

std::string ShortTime(std::uint64_t fileTime, bool utc) {
    std::tm fields{};
    if (fileTime == 0 || !Fields(fileTime, utc, fields))
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &fields);
    return text;
}

}  // namespace duzez::cli
