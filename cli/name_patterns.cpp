#include "cli/name_patterns.h"

#include <fnmatch.h>

namespace duzez::cli {

void AddMatchOption(CLI::App& command, std::vector<std::string>& patterns) {
    command
        .add_option("--match", patterns,
                    "Only files whose name matches PATTERN (*.jpg); give it again for more "
                    "(--match '*.jpg' --match '*.cr2'); a PATTERN with a / matches the path "
                    "(DCIM/*)")
        ->option_text("PATTERN")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

bool NamePatterns::Matches(std::string_view name, std::string_view path) const {
    if (patterns_.empty())
        return true;
    const std::string ownName(name);
    const std::string ownPath(path);
    for (const std::string& pattern : patterns_) {
        if (pattern.find('/') == std::string::npos) {
            if (::fnmatch(pattern.c_str(), ownName.c_str(), FNM_CASEFOLD) == 0)
                return true;
            continue;
        }
        // A pattern without a leading '/' may match from any folder down: 'DCIM/*.jpg'
        // matches '/DCIM/x.jpg' and '/Partition 1 (FAT32)/DCIM/x.jpg'.
        if (::fnmatch(pattern.c_str(), ownPath.c_str(), FNM_CASEFOLD | FNM_PATHNAME) == 0)
            return true;
        if (pattern.front() == '/')
            continue;
        for (std::size_t slash = ownPath.find('/'); slash != std::string::npos;
             slash = ownPath.find('/', slash + 1)) {
            if (::fnmatch(pattern.c_str(), ownPath.c_str() + slash + 1,
                          FNM_CASEFOLD | FNM_PATHNAME) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace duzez::cli
