#pragma once

// The size column's text: whole units, a unit only above its threshold, so 1,048,576
// bytes read "1024 KB" and one byte more "1 MB".

#include <QString>
#include <cstdint>

namespace duzez::ui {

// Empty for folders; "unknown" for a size not known yet.
QString SizeText(std::uint64_t size, bool folder);

}  // namespace duzez::ui
