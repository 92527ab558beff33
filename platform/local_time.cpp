#include "platform/local_time.h"

#include <locale.h>
#include <time.h>

namespace duzez::platform {
namespace {

// The user's LC_TIME without touching the process-wide locale; "C" when the
// environment names a locale that is not installed.
class TimeLocale {
  public:
    TimeLocale() {
        handle_ = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (handle_ == static_cast<locale_t>(nullptr)) {
            handle_ = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
        }
    }
    ~TimeLocale() {
        if (handle_ != static_cast<locale_t>(nullptr))
            ::freelocale(handle_);
    }
    TimeLocale(const TimeLocale&) = delete;
    TimeLocale& operator=(const TimeLocale&) = delete;
    locale_t get() const { return handle_; }

  private:
    locale_t handle_;
};

std::string Format(const char* pattern, const tm& fields, locale_t locale) {
    char buffer[128];
    const std::size_t length = ::strftime_l(buffer, sizeof buffer, pattern, &fields, locale);
    return std::string(buffer, length);
}

}  // namespace

std::string FormatLocalDateTime(std::chrono::system_clock::time_point when) {
    const time_t seconds = std::chrono::system_clock::to_time_t(when);
    tm fields{};
    ::localtime_r(&seconds, &fields);
    const TimeLocale locale;
    return Format("%x", fields, locale.get()) + " " + Format("%X", fields, locale.get());
}

}  // namespace duzez::platform
