// A language file as a translator might send it: decoded, parsed, and every string-table
// value used as a message text with typical arguments.

#include <cstdint>
#include <cstdlib>

#include "core/ini_file.h"
#include "core/languages.h"
#include "core/message_format.h"
#include "core/string_table.h"
#include "platform/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace duzez;
    const std::string text = platform::DecodeTextFile({data, size}).text;
    if (!platform::IsValidUtf8(text))
        std::abort();
    const core::IniFile ini = core::IniFile::Parse(text);
    for (const core::BuiltinString& entry : core::BuiltinStrings()) {
        const auto value =
            ini.Value("StringsTable", std::to_string(static_cast<unsigned>(entry.id)));
        if (!value)
            continue;
        const std::string resolved = core::ResolveEscapes(*value);
        (void)core::FormatChecked(resolved, {"volume", 42, 4096ull});
    }
    return 0;
}
