#pragma once

// Message ids between the engine and the windows; they keep their Windows values.

#include <cstdint>

namespace duzez::core {

constexpr std::uint32_t WM_APP = 0x8000;

constexpr std::uint32_t WM_LOG_LINE = WM_APP + 105;     // text: the line
constexpr std::uint32_t WM_STATUS_TEXT = WM_APP + 106;  // wParam: string id, lParam: pane
constexpr std::uint32_t WM_LANGUAGE_APPLIED = WM_APP + 503;

}  // namespace duzez::core
