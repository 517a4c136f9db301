#include "runner/png.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

namespace quillon::runner {

namespace {

constexpr std::string_view kSignature{"\x89PNG\r\n\x1a\n", 8};
constexpr int kLargestSide = 4096;

void PutBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

std::uint32_t BigEndian(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

void PutChunk(std::string& out, std::string_view type, std::string_view data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = std::string(type) + std::string(data);
    out += body;
    PutBigEndian(out, static_cast<std::uint32_t>(
                          crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

std::string Deflate(const std::string& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

bool Inflate(std::string_view compressed, std::size_t expected, std::string& out)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    out.assign(expected, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.avail_out == 0;
    inflateEnd(&stream);
    return whole;
}

int Paeth(int left, int up, int upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) {
        return left;
    }
    return toUp <= toUpLeft ? up : upLeft;
}

struct Header {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
};

int SamplesPerPixel(int colourType)
{
    switch (colourType) {
    case 0:
    case 3:
        return 1;
    case 4:
        return 2;
    case 2:
        return 3;
    case 6:
        return 4;
    default:
        return 0;
    }
}

bool DepthAllowed(int colourType, int depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

} // namespace

std::string EncodePng(const IndexedImage& image)
{
    std::string header;
    PutBigEndian(header, static_cast<std::uint32_t>(image.width));
    PutBigEndian(header, static_cast<std::uint32_t>(image.height));
    header += std::string{8, 3, 0, 0, 0}; // 8-bit palette, deflate, adaptive filters, not interlaced
    std::string palette;
    for (const Rgb& colour : image.palette) {
        palette += static_cast<char>(colour.red);
        palette += static_cast<char>(colour.green);
        palette += static_cast<char>(colour.blue);
    }
    std::string raw;
    raw.reserve(static_cast<std::size_t>((image.width + 1) * image.height));
    for (int y = 0; y < image.height; ++y) {
        raw += '\0';
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(y) * image.width;
        raw.append(row, row + image.width);
    }
    std::string file(kSignature);
    PutChunk(file, "IHDR", header);
    PutChunk(file, "PLTE", palette);
    PutChunk(file, "IDAT", Deflate(raw));
    PutChunk(file, "IEND", {});
    return file;
}

std::optional<RgbaImage> DecodePng(std::string_view file, std::string& error)
{
    if (!file.starts_with(kSignature)) {
        error = "not a PNG file";
        return std::nullopt;
    }
    Header header;
    bool seenHeader = false;
    bool ended = false;
    std::string compressed;
    std::vector<std::array<std::uint8_t, 4>> palette;
    std::string transparency;
    for (std::size_t at = kSignature.size(); !ended;) {
        if (file.size() - at < 12) {
            error = "the PNG file is cut short";
            return std::nullopt;
        }
        const std::uint32_t length = BigEndian(file, at);
        if (length > file.size() - at - 12) {
            error = "the PNG file is cut short";
            return std::nullopt;
        }
        const std::string_view type = file.substr(at + 4, 4);
        const std::string_view data = file.substr(at + 8, length);
        const std::uint32_t stored = BigEndian(file, at + 8 + length);
        const std::string_view body = file.substr(at + 4, length + 4);
        if (crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())) != stored) {
            error = "the PNG chunk " + std::string(type) + " is damaged (CRC mismatch)";
            return std::nullopt;
        }
        at += 12 + length;
        if (type == "IHDR" && length == 13) {
            header = {static_cast<int>(BigEndian(data, 0)), static_cast<int>(BigEndian(data, 4)),
                      static_cast<std::uint8_t>(data[8]), static_cast<std::uint8_t>(data[9]),
                      static_cast<std::uint8_t>(data[12])};
            seenHeader = true;
        } else if (!seenHeader) {
            error = "the PNG file does not start with its header";
            return std::nullopt;
        } else if (type == "PLTE") {
            for (std::size_t i = 0; i + 3 <= data.size(); i += 3) {
                palette.push_back({static_cast<std::uint8_t>(data[i]), static_cast<std::uint8_t>(data[i + 1]),
                                   static_cast<std::uint8_t>(data[i + 2]), 255});
            }
        } else if (type == "tRNS") {
            transparency = data;
        } else if (type == "IDAT") {
            compressed += data;
        } else if (type == "IEND") {
            ended = true;
        }
    }
    if (header.width <= 0 || header.height <= 0 || header.width > kLargestSide || header.height > kLargestSide) {
        error = "the PNG picture's size is not 1 to 4096 pixels a side";
        return std::nullopt;
    }
    if (!DepthAllowed(header.colourType, header.bitDepth)) {
        error = "PNG colour type " + std::to_string(header.colourType) + " with bit depth " +
                std::to_string(header.bitDepth) + " is not a valid combination";
        return std::nullopt;
    }
    if (header.interlace != 0) {
        error = "interlaced PNG files are not read; save the picture without interlacing";
        return std::nullopt;
    }
    if (header.colourType == 3 && palette.empty()) {
        error = "the PNG palette is missing";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < transparency.size() && i < palette.size(); ++i) {
        palette[i][3] = static_cast<std::uint8_t>(transparency[i]);
    }

    const int samples = SamplesPerPixel(header.colourType);
    const std::size_t bitsPerPixel = static_cast<std::size_t>(samples * header.bitDepth);
    const std::size_t rowBytes = (bitsPerPixel * static_cast<std::size_t>(header.width) + 7) / 8;
    const std::size_t pixelBytes = std::max<std::size_t>(1, bitsPerPixel / 8);
    std::string raw;
    if (!Inflate(compressed, (rowBytes + 1) * static_cast<std::size_t>(header.height), raw)) {
        error = "the PNG picture data is damaged or of the wrong size";
        return std::nullopt;
    }

    std::vector<std::uint8_t> previous(rowBytes, 0);
    std::vector<std::uint8_t> row(rowBytes, 0);
    RgbaImage image{header.width, header.height, {}};
    image.rgba.reserve(static_cast<std::size_t>(header.width * header.height * 4));
    const int maxSample = (1 << header.bitDepth) - 1;
    for (int y = 0; y < header.height; ++y) {
        const std::size_t start = static_cast<std::size_t>(y) * (rowBytes + 1);
        const auto filter = static_cast<std::uint8_t>(raw[start]);
        if (filter > 4) {
            error = "the PNG picture data has an unknown filter";
            return std::nullopt;
        }
        for (std::size_t x = 0; x < rowBytes; ++x) {
            const int value = static_cast<std::uint8_t>(raw[start + 1 + x]);
            const int left = x >= pixelBytes ? row[x - pixelBytes] : 0;
            const int up = previous[x];
            const int upLeft = x >= pixelBytes ? previous[x - pixelBytes] : 0;
            const int predicted = std::array<int, 5>{0, left, up, (left + up) / 2, Paeth(left, up, upLeft)}[filter];
            row[x] = static_cast<std::uint8_t>(value + predicted);
        }
        const auto sample = [&](int x, int index) -> int {
            const std::size_t bit =
                static_cast<std::size_t>(x * samples + index) * static_cast<std::size_t>(header.bitDepth);
            if (header.bitDepth == 16) {
                return row[bit / 8]; // the high byte is enough for 8-bit output
            }
            const int shift = 8 - header.bitDepth - static_cast<int>(bit % 8);
            return (row[bit / 8] >> shift) & maxSample;
        };
        const auto scale = [&](int value) { return header.bitDepth >= 8 ? value : value * 255 / maxSample; };
        for (int x = 0; x < header.width; ++x) {
            std::array<std::uint8_t, 4> pixel{};
            switch (header.colourType) {
            case 0: {
                const auto grey = static_cast<std::uint8_t>(scale(sample(x, 0)));
                pixel = {grey, grey, grey, 255};
                break;
            }
            case 2:
                pixel = {static_cast<std::uint8_t>(sample(x, 0)), static_cast<std::uint8_t>(sample(x, 1)),
                         static_cast<std::uint8_t>(sample(x, 2)), 255};
                break;
            case 3: {
                const auto index = static_cast<std::size_t>(sample(x, 0));
                if (index >= palette.size()) {
                    error = "a PNG pixel points past the end of the palette";
                    return std::nullopt;
                }
                pixel = palette[index];
                break;
            }
            case 4: {
                const auto grey = static_cast<std::uint8_t>(sample(x, 0));
                pixel = {grey, grey, grey, static_cast<std::uint8_t>(sample(x, 1))};
                break;
            }
            default:
                pixel = {static_cast<std::uint8_t>(sample(x, 0)), static_cast<std::uint8_t>(sample(x, 1)),
                         static_cast<std::uint8_t>(sample(x, 2)), static_cast<std::uint8_t>(sample(x, 3))};
                break;
            }
            image.rgba.insert(image.rgba.end(), pixel.begin(), pixel.end());
        }
        std::swap(previous, row);
    }
    return image;
}

} // namespace quillon::runner
