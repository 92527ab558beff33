#pragma once

// A camera-sized JPEG (4000x3000, quality 92, a few MB), made once with ImageMagick in /tmp;
// empty when ImageMagick cannot make it.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace duzez::bench {

inline const std::vector<std::uint8_t>& CameraJpeg() {
    static const std::vector<std::uint8_t> bytes = [] {
        const std::string path = "/tmp/duzez-verdict-bench-4000x3000.jpg";
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            const std::string make =
                "convert -seed 1 -size 4000x3000 plasma:fractal -quality 92 '" + path + "'";
            if (std::system(make.c_str()) != 0)
                return std::vector<std::uint8_t>{};
        }
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

}  // namespace duzez::bench
