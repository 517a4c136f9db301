#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/png.h"

namespace quillon::testing {

// An animated GIF as a viewer shows it, frame by frame.
struct GifFrame {
    int delayCs = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    // The whole picture once this frame is drawn, a palette index a pixel.
    std::vector<std::uint8_t> canvas;
};

struct Gif {
    int width = 0;
    int height = 0;
    std::vector<Rgb> palette;
    bool loops = false;
    std::vector<GifFrame> frames;
};

// Reads GIF data as a viewer would; throws on anything it does not expect.
class GifReader {
public:
    explicit GifReader(std::string bytes) : bytes_(std::move(bytes)) {}

    Gif Read();
    // The whole of a file.
    static Gif ReadFile(const std::string& path);

private:
    int Byte()
    {
        if (at_ >= bytes_.size()) {
            throw std::runtime_error("the file ends early");
        }
        return static_cast<std::uint8_t>(bytes_[at_++]);
    }
    int Word()
    {
        const int low = Byte();
        return low | Byte() << 8;
    }
    std::string Blocks()
    {
        std::string data;
        while (const int length = Byte()) {
            for (int i = 0; i < length; ++i) {
                data += static_cast<char>(Byte());
            }
        }
        return data;
    }

    std::string bytes_;
    std::size_t at_ = 0;
};

} // namespace quillon::testing
