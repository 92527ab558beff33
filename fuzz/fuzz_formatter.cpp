// The message formatter with a hostile format text: the first byte picks the arguments.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/message_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using duzez::core::FormatArg;
    if (size == 0)
        return 0;
    const std::string_view format(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<FormatArg> args;
    const std::uint8_t pick = data[0];
    for (int i = 0; i < (pick & 7); ++i) {
        switch ((pick >> 3) % 5 + i % 3) {
            case 0:
                args.emplace_back("text");
                break;
            case 1:
                args.emplace_back(-7);
                break;
            case 2:
                args.emplace_back(0xFFFFFFFFFFull);
                break;
            case 3:
                args.emplace_back('Z');
                break;
            default:
                args.emplace_back(123u);
                break;
        }
    }
    (void)duzez::core::FormatChecked(format, args);
    return 0;
}
