#include "tests/support/gif_reader.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillon::testing {

namespace {

// Decodes GIF image data; throws on a code that cannot be.
std::vector<std::uint8_t> Unlzw(const std::string& data, int minCodeSize)
{
    const int clear = 1 << minCodeSize;
    std::vector<std::vector<std::uint8_t>> table;
    int size = 0;
    const auto reset = [&] {
        table.assign(static_cast<std::size_t>(clear + 2), {});
        for (int i = 0; i < clear; ++i) {
            table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i)};
        }
        size = minCodeSize + 1;
    };
    reset();
    std::vector<std::uint8_t> out;
    std::size_t bit = 0;
    int previous = -1;
    for (;;) {
        if (bit + static_cast<std::size_t>(size) > data.size() * 8) {
            throw std::runtime_error("no end code");
        }
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) {
            code |= ((static_cast<std::uint8_t>(data[bit / 8]) >> (bit % 8)) & 1) << i;
        }
        if (code == clear) {
            reset();
            previous = -1;
            continue;
        }
        if (code == clear + 1) {
            return out;
        }
        std::vector<std::uint8_t> entry;
        if (code < static_cast<int>(table.size()) && (code < clear || code > clear + 1)) {
            entry = table[static_cast<std::size_t>(code)];
        } else if (code == static_cast<int>(table.size()) && previous >= 0) {
            entry = table[static_cast<std::size_t>(previous)];
            entry.push_back(entry.front());
        } else {
            throw std::runtime_error("code " + std::to_string(code) + " not in the table");
        }
        if (previous >= 0 && table.size() < 4096) {
            auto added = table[static_cast<std::size_t>(previous)];
            added.push_back(entry.front());
            table.push_back(std::move(added));
            if (table.size() == (std::size_t{1} << size) && size < 12) {
                ++size;
            }
        }
        out.insert(out.end(), entry.begin(), entry.end());
        previous = code;
    }
}

} // namespace

Gif GifReader::Read()
{
    if (bytes_.compare(0, 6, "GIF89a") != 0) {
        throw std::runtime_error("no GIF89a signature");
    }
    at_ = 6;
    Gif gif;
    gif.width = Word();
    gif.height = Word();
    const int flags = Byte();
    Byte();
    Byte();
    if ((flags & 0x80) == 0) {
        throw std::runtime_error("no global colour table");
    }
    for (int i = 0; i < (2 << (flags & 7)); ++i) {
        const auto red = static_cast<std::uint8_t>(Byte());
        const auto green = static_cast<std::uint8_t>(Byte());
        gif.palette.push_back({red, green, static_cast<std::uint8_t>(Byte())});
    }
    std::vector<std::uint8_t> canvas(static_cast<std::size_t>(gif.width * gif.height), 0);
    int delayCs = -1;
    for (;;) {
        const int block = Byte();
        if (block == 0x3B) {
            return gif;
        }
        if (block == 0x21) {
            const int label = Byte();
            const std::string data = Blocks();
            if (label == 0xF9) {
                delayCs = static_cast<std::uint8_t>(data.at(1)) | static_cast<std::uint8_t>(data.at(2)) << 8;
            } else if (label == 0xFF && data.compare(0, 11, "NETSCAPE2.0") == 0) {
                gif.loops = data.at(12) == 0 && data.at(13) == 0;
            }
            continue;
        }
        if (block != 0x2C || delayCs < 0) {
            throw std::runtime_error("expected an image after its graphic control");
        }
        GifFrame frame{delayCs, Word(), Word(), Word(), Word(), {}};
        delayCs = -1;
        if (Byte() != 0 || frame.left + frame.width > gif.width || frame.top + frame.height > gif.height) {
            throw std::runtime_error("an image outside the screen or with its own colours");
        }
        const int minCodeSize = Byte();
        const auto pixels = Unlzw(Blocks(), minCodeSize);
        if (pixels.size() != static_cast<std::size_t>(frame.width * frame.height)) {
            throw std::runtime_error("wrong number of pixels");
        }
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                canvas[static_cast<std::size_t>((frame.top + y) * gif.width + frame.left + x)] =
                    pixels[static_cast<std::size_t>(y * frame.width + x)];
            }
        }
        frame.canvas = canvas;
        gif.frames.push_back(std::move(frame));
    }
}

Gif GifReader::ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return GifReader(bytes.str()).Read();
}

} // namespace quillon::testing
