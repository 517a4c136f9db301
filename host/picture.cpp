#include "host/picture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon {

namespace {

constexpr int kDiffScale = 4;
constexpr Rgb kMissing{220, 20, 20};
constexpr Rgb kExtra{30, 60, 230};

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return true;
}

std::optional<Bitmap> FromTextArt(const std::string& text, const std::string& path, std::string& error)
{
    Bitmap picture;
    std::istringstream lines(text);
    std::string line;
    int y = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (y == kDisplayHeight) {
            if (line.empty()) {
                continue;
            }
            error = path + ":" + std::to_string(y + 1) + ": more than 64 lines; a golden picture is 128 x 64";
            return std::nullopt;
        }
        if (line.size() != static_cast<std::size_t>(kDisplayWidth)) {
            error = path + ":" + std::to_string(y + 1) + ": " + std::to_string(line.size()) +
                    " characters; each line of a golden picture has 128";
            return std::nullopt;
        }
        for (int x = 0; x < kDisplayWidth; ++x) {
            const char pixel = line[static_cast<std::size_t>(x)];
            if (pixel != '#' && pixel != '.') {
                error = path + ":" + std::to_string(y + 1) + ": column " + std::to_string(x + 1) +
                        " is neither '#' (ink) nor '.' (background)";
                return std::nullopt;
            }
            picture.Set(x, y, pixel == '#');
        }
        ++y;
    }
    if (y != kDisplayHeight) {
        error = path + ": " + std::to_string(y) + " lines; a golden picture is 128 x 64";
        return std::nullopt;
    }
    return picture;
}

std::optional<Bitmap> FromPng(const std::string& bytes, const std::string& path, std::string& error)
{
    std::string why;
    const auto image = DecodePng(bytes, why);
    if (!image) {
        error = path + ": " + why;
        return std::nullopt;
    }
    if (image->width != kDisplayWidth || image->height != kDisplayHeight) {
        error = path + ": the picture is " + std::to_string(image->width) + " x " + std::to_string(image->height) +
                "; a golden picture is 128 x 64";
        return std::nullopt;
    }
    Bitmap picture;
    for (int y = 0; y < kDisplayHeight; ++y) {
        for (int x = 0; x < kDisplayWidth; ++x) {
            const auto* pixel = &image->rgba[static_cast<std::size_t>((y * kDisplayWidth + x) * 4)];
            const int luminance = (299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2]) / 1000;
            picture.Set(x, y, pixel[3] >= 128 && luminance < 128);
        }
    }
    return picture;
}

} // namespace

Bitmap::Bitmap(const DisplayMemory& memory) : Bitmap()
{
    for (int y = 0; y < kDisplayHeight; ++y) {
        for (int x = 0; x < kDisplayWidth; ++x) {
            Set(x, y, memory.Pixel(x, y));
        }
    }
}

bool IsGoldenName(const std::string& path)
{
    return EndsWith(path, ".png") || EndsWith(path, ".txt");
}

std::optional<Bitmap> LoadGolden(const std::string& path, std::string& error)
{
    if (!IsGoldenName(path)) {
        error = path + ": a golden picture is a .png or a .txt (text art) file";
        return std::nullopt;
    }
    std::string bytes;
    if (!ReadFile(path, bytes, error)) {
        return std::nullopt;
    }
    return EndsWith(path, ".png") ? FromPng(bytes, path, error) : FromTextArt(bytes, path, error);
}

std::string ToTextArt(const Bitmap& picture)
{
    std::string text;
    for (int y = 0; y < kDisplayHeight; ++y) {
        for (int x = 0; x < kDisplayWidth; ++x) {
            text += picture.At(x, y) ? '#' : '.';
        }
        text += '\n';
    }
    return text;
}

bool SaveGolden(const std::string& path, const Bitmap& picture, std::string& error)
{
    if (!IsGoldenName(path)) {
        error = path + ": a golden picture is a .png or a .txt (text art) file";
        return false;
    }
    return WriteFile(path, EndsWith(path, ".png") ? EncodePng(Screenshot(picture, 1)) : ToTextArt(picture), error);
}

IndexedImage Screenshot(const Bitmap& picture, int scale)
{
    IndexedImage image{kDisplayWidth * scale, kDisplayHeight * scale, {kBackground, kInk}, {}};
    image.pixels.resize(static_cast<std::size_t>(image.width * image.height));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            image.pixels[static_cast<std::size_t>(y * image.width + x)] = picture.At(x / scale, y / scale) ? 1 : 0;
        }
    }
    return image;
}

bool WriteFile(const std::string& path, const std::string& bytes, std::string& error)
{
    // The folder is made when it is missing (--artifacts or a golden in a new
    // folder).
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code made;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, made);
    }
    if (made) {
        error = "cannot write " + path + ": cannot make its folder: " + made.message();
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + path + ": " + std::strerror(written ? errno : writeError);
        return false;
    }
    return true;
}

Comparison Compare(const Bitmap& actual, const Bitmap& golden, const Region& region)
{
    Comparison result{0, Screenshot(actual, kDiffScale)};
    result.diff.palette = {kBackground, kInk, kMissing, kExtra};
    for (int y = region.y; y < region.y + region.height; ++y) {
        for (int x = region.x; x < region.x + region.width; ++x) {
            if (actual.At(x, y) == golden.At(x, y)) {
                continue;
            }
            ++result.differing;
            const std::uint8_t colour = golden.At(x, y) ? 2 : 3;
            for (int dy = 0; dy < kDiffScale; ++dy) {
                for (int dx = 0; dx < kDiffScale; ++dx) {
                    const int at = (y * kDiffScale + dy) * result.diff.width + x * kDiffScale + dx;
                    result.diff.pixels[static_cast<std::size_t>(at)] = colour;
                }
            }
        }
    }
    return result;
}

} // namespace quillon
