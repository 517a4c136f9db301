#include "host/png.h"

#include <climits>
#include <memory>

// The PNG reader and writer are stb_image and stb_image_write, compiled here
// and nowhere else; only their PNG parts.
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 4096
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace quillon {

namespace {

constexpr std::string_view kSignature{"\x89PNG\r\n\x1a\n", 8};

// The reader's reasons, told in the words a golden's message has always used.
std::string Reason(std::string_view why)
{
    static constexpr struct {
        std::string_view marker;
        const char* reason;
    } kReasons[] = {
        {"outofdata", "the PNG file is cut short"},
        {"first not IHDR", "the PNG file does not start with its header"},
        {"bad IHDR len", "the PNG file does not start with its header"},
        {"1/2/4/8/16-bit only", "its colour type and bit depth are not a valid combination"},
        {"bad ctype", "its colour type and bit depth are not a valid combination"},
        {"no PLTE", "the PNG palette is missing"},
        {"invalid filter", "the PNG picture data has an unknown filter"},
        {"too large", "the PNG picture's size is not 1 to 4096 pixels a side"},
        {"0-pixel image", "the PNG picture's size is not 1 to 4096 pixels a side"},
    };
    for (const auto& [marker, reason] : kReasons) {
        if (why == marker) {
            return reason;
        }
    }
    return "the PNG picture data is damaged or of the wrong size (" + std::string(why) + ")";
}

void Append(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

} // namespace

std::string EncodePng(const IndexedImage& image)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(image.pixels.size() * 3);
    for (const std::uint8_t index : image.pixels) {
        const Rgb colour = index < image.palette.size() ? image.palette[index] : Rgb{};
        rgb.insert(rgb.end(), {colour.red, colour.green, colour.blue});
    }
    std::string file;
    stbi_write_png_to_func(Append, &file, image.width, image.height, 3, rgb.data(), image.width * 3);
    return file;
}

std::optional<RgbaImage> DecodePng(std::string_view file, std::string& error)
{
    if (file.substr(0, kSignature.size()) != kSignature) {
        error = "not a PNG file";
        return std::nullopt;
    }
    if (file.size() > INT_MAX) {
        error = "the PNG file is larger than 2 GB";
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(file.data()), static_cast<int>(file.size()), &width,
                              &height, &channels, 4),
        stbi_image_free);
    // The reader's reason for a file that stops early is whatever it read
    // last; a file that does not end with its end chunk is cut short.
    const bool whole = file.size() >= 20 && file.substr(file.size() - 8, 4) == "IEND";
    if (!pixels) {
        error = whole ? Reason(stbi_failure_reason()) : "the PNG file is cut short";
        return std::nullopt;
    }
    RgbaImage image{width, height, {}};
    image.rgba.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 4);
    return image;
}

} // namespace quillon
