// Writes the seed corpus of the fuzz targets: short scripts built from the
// protocol's example frames, encoded by the protocol's own encoder. Run it
// (`cmake --build <dir> --target fuzz_seeds`) after changing the script
// operations of a target; the seeds are committed so a fuzz run starts from
// known-good blocks.
//
//     make_seeds CORPUS_DIR      # rewrites CORPUS_DIR/<target>/<seed name>
//
// Files named by a 40-digit hash are inputs a fuzz run found and kept; they
// are left alone. Every other file in a target's folder is a seed of this
// program and is replaced.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/scripts.h"
#include "protocol/protocol.h"

namespace quillon::fuzzing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Seeds = std::map<std::string, Bytes>;

constexpr std::uint32_t kStartClock = 1000;

Bytes Frame(std::uint8_t code, const Bytes& data, bool last = true)
{
    return EncodeFrame(code, data, last);
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// A script: the clock's start value, then operations and their arguments.
class Script {
public:
    Script() { Long(kStartClock); }

    template <typename Op, typename... Args> Script& Do(Op operation, Args... arguments)
    {
        bytes_.push_back(static_cast<std::uint8_t>(operation));
        (bytes_.push_back(static_cast<std::uint8_t>(arguments)), ...);
        return *this;
    }
    Script& Raw(const Bytes& bytes)
    {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Script& Text(std::string_view text) { return Raw(Bytes(text.begin(), text.end())); }
    Script& Word(unsigned value)
    {
        return Raw({static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
    }
    Script& Long(std::uint32_t value) { return Word(value & 0xFFFF).Word(value >> 16); }

    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// A link_fuzzer script, with the device's habits as steps of their own.
class Stream : public Script {
public:
    // Feeds the bytes in chunks of at most 64.
    Stream& Feed(const Bytes& data)
    {
        for (std::size_t at = 0; at < data.size(); at += 64) {
            const std::size_t count = std::min<std::size_t>(64, data.size() - at);
            Do(LinkOp::Feed, count - 1);
            Raw(Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + count)));
        }
        return *this;
    }
    // Feeds the bytes and lets the receiver take all of them.
    Stream& Receive(const Bytes& data)
    {
        Feed(data);
        for (std::size_t left = data.size(); left > 0; left -= std::min<std::size_t>(left, 256)) {
            Do(LinkOp::Passes, std::min<std::size_t>(left, 256) - 1);
        }
        return *this;
    }
    Stream& Tick(unsigned ms = 10)
    {
        Do(LinkOp::Step, ms).Do(LinkOp::Tick);
        return *this;
    }
    // Ticks through ms milliseconds of quiet in long steps.
    Stream& Wait(unsigned ms)
    {
        while (ms > 0) {
            const unsigned step = std::min(ms, 20000u);
            Do(LinkOp::LongStep).Word(step).Do(LinkOp::Tick);
            ms -= step;
        }
        return *this;
    }
    Stream& Inject(std::uint8_t code, const Bytes& data)
    {
        Do(LinkOp::Inject, code, data.size()).Raw(data);
        return *this;
    }
    template <typename... Args> Stream& Op(LinkOp operation, Args... arguments)
    {
        Do(operation, arguments...);
        return *this;
    }
};

// The commands of the protocol's examples, one frame each.
std::map<std::string, Bytes> Commands()
{
    return {
        {"write_array", Frame(kWriteArray, {10, 3, 0xFF, 0x81})},
        {"write_array_clipped", Frame(kWriteArray, {126, 0, 1, 2, 3, 4, 5})},
        {"write_array_page_8", Frame(kWriteArray, {0, 8, 0xAA})},
        {"write_string_clear", Frame(kWriteString, {0x85, 0x0A, 0x41, 0x42})},
        {"write_string_size_5", Frame(kWriteString, {0x80, 0x2E, 0x41})},
        {"write_string_size_2", Frame(kWriteString, {0x80, 0x10, 0x41})},
        {"blank_area", Frame(kBlankArea, {0x1A})},
        {"blank_area_reversed", Frame(kBlankArea, {0x13})},
        {"setup_display", Frame(kSetupDisplay, {0x80})},
        {"set_contrast", Frame(kSetContrast, {200})},
        {"slider_7", Frame(kDrawSliderBar, {7, 2, 1, 2, 3})},
        {"slider_42", Frame(kDrawSliderBar, {42, 2, 1, 2, 3})},
        {"slider_100", Frame(kDrawSliderBar, {100, 2, 1, 2, 3})},
        {"slider_two_pages", Frame(kDrawSliderBar, {5, 9, 1, 2, 3, 4, 5, 6})},
        {"draw_and_repeat", Frame(kDrawAndRepeat, {0, 0, 3, 0x0F, 0xF0})},
        {"draw_and_repeat_127", Frame(kDrawAndRepeat, {0, 1, 127, 0xFF})},
        {"draw_and_repeat_128", Frame(kDrawAndRepeat, {0, 1, 128, 0xFF})},
        {"draw_and_repeat_clipped", Frame(kDrawAndRepeat, {100, 2, 19, 1, 2})},
        {"draw_icon_41", Frame(kDrawIcon, {0, 0, 41})},
        {"draw_icon_42", Frame(kDrawIcon, {0, 0, 42})},
        {"frame_header", Frame(kWriteFrameHeader, {'M', 'a', 'i', 'n', ' ', 'M', 'e', 'n', 'u'})},
        {"reply_mode_single", Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF})},
    };
}

Seeds LinkSeeds()
{
    const Bytes readSwitches = Frame(kReadSwitches, {0x00});
    const Bytes notLast = Frame(kReadSwitches, {0x00}, false);
    const Bytes writeString = Frame(kWriteString, {0x00, 0x00, 0x41});
    Bytes badChecksum = writeString;
    --badChecksum.back();
    std::map<std::string, Stream> streams;
    streams["one_frame_block"].Receive(readSwitches).Tick();
    streams["two_frames"].Receive(Join({notLast, readSwitches})).Tick();
    streams["string_then_switches"]
        .Receive(Join({Frame(kWriteString, {0x00, 0x00, 0x41}, false), readSwitches}))
        .Tick();
    streams["write_string_passes"].Receive(writeString).Tick();
    streams["checksum_error"].Receive(badChecksum).Tick();
    streams["long_status_frame"]
        .Op(LinkOp::Keys, 0)
        .Receive(Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}))
        .Tick();
    streams["single_byte_mode"]
        .Receive(Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF}))
        .Tick()
        .Receive(readSwitches)
        .Tick();
    // Column 0, page 0 and 115 column bytes: a frame that fills the buffer.
    Bytes fullArray(kMaxFrameDataLength, 0x55);
    fullArray[0] = 0;
    fullArray[1] = 0;
    streams["full_buffer_then_overflow"].Receive(Join({Frame(kWriteArray, fullArray, false), {0x01}})).Tick(121).Tick();
    streams["bad_function_code"].Receive({0x00}).Tick(120).Tick(1).Receive(readSwitches).Tick();
    streams["bad_length"].Receive({0x02, kMaxFrameDataLength + 1}).Tick(121);
    streams["silence"].Wait(10001).Wait(10001);
    streams["byte_during_complete_block"].Receive(Join({readSwitches, {0x33}})).Tick().Tick(121);
    streams["synch_required"].Op(LinkOp::SynchMode, 1).Wait(2001).Wait(2001).Receive(readSwitches).Tick();
    streams["key_latched"].Op(LinkOp::Keys, 2 | 0x10).Receive(readSwitches).Tick();
    streams["port_faults"]
        .Op(LinkOp::PortFaults, 2)
        .Receive(readSwitches)
        .Op(LinkOp::PortFaults, 0)
        .Receive(readSwitches)
        .Tick()
        .Op(LinkOp::PortFaults, 1)
        .Wait(10001);
    streams["paused_link"]
        .Receive(readSwitches)
        .Op(LinkOp::ToggleLink)
        .Receive({readSwitches[0]})
        .Tick()
        .Op(LinkOp::ToggleLink)
        .Receive({readSwitches[1], readSwitches[3]})
        .Tick()
        .Tick(121);
    Stream& lineRate = streams["line_rate"];
    for (int i = 0; i < 8; ++i) {
        lineRate.Feed(readSwitches);
    }
    lineRate.Op(LinkOp::LineRate, 20);
    // The index wraps round onto frames counted but not yet taken.
    streams["wrap_over_counted_frames"]
        .Receive(Join({Frame(kWriteArray, {10, 2, 0x3C, 0x42}, false), Frame(kReadSwitches, {0}, false),
                       Frame(kReadSwitches, {0}, false)}))
        .Receive(Join({Bytes(241, 0), readSwitches}))
        .Tick()
        .Tick(121);
    // The reply as soon as the block is complete, without the tick.
    streams["answer_at_once"].Receive(readSwitches).Op(LinkOp::Answer).Receive(writeString).Op(LinkOp::Answer);
    // Send Packet between the device's blocks, in the middle of one, and
    // while the link is paused.
    streams["inject_between_blocks"].Inject(kWriteString, {0, 0, 'A'}).Tick().Receive(readSwitches).Tick();
    streams["inject_while_device_sends"]
        .Receive(Bytes(readSwitches.begin(), readSwitches.begin() + 2))
        .Inject(kBlankArea, {0x38})
        .Receive(Bytes(readSwitches.begin() + 2, readSwitches.end()))
        .Tick()
        .Op(LinkOp::OnePass)
        .Tick();
    streams["inject_while_paused"]
        .Op(LinkOp::ToggleLink)
        .Inject(kReadSwitches, {0})
        .Inject(kSetContrast, {7})
        .Receive(readSwitches)
        .Tick()
        .Op(LinkOp::ToggleLink)
        .Tick()
        .Op(LinkOp::Passes, 3)
        .Tick();
    for (const auto& [name, frame] : Commands()) {
        streams["command_" + name].Receive(frame).Tick();
    }

    Seeds seeds;
    for (const auto& [name, stream] : streams) {
        seeds[name] = stream.bytes();
    }
    return seeds;
}

Seeds DisplaySeeds()
{
    std::map<std::string, Script> scripts;
    for (const auto& [name, frame] : Commands()) {
        scripts[name].Do(DisplayOp::Frame, frame[0], frame[1]).Raw(Bytes(frame.begin() + 2, frame.end() - 1));
    }
    const Bytes text = Frame(kWriteString, {0x00, 0x00, 'A', 'B'});
    scripts["raw_frame"].Do(DisplayOp::RawFrame, text.size()).Raw(text);
    scripts["raw_bad_checksum"].Do(DisplayOp::RawFrame, text.size() - 1).Raw(Bytes(text.begin(), text.end() - 1));
    scripts["cut_frame"].Do(DisplayOp::CutFrame, kWriteArray | kLastFrameBit, 3, 0, 0, 0, 2);
    scripts["put_string"].Do(DisplayOp::PutString, 0x0B, 4, 1, 20).Text("Communications Error");
    scripts["put_string_too_long"].Do(DisplayOp::PutString, 0x00, 0, 0, 30).Text(std::string(30, 'x'));
    scripts["startup_screen"].Do(DisplayOp::StartupScreen);

    Seeds seeds;
    for (const auto& [name, script] : scripts) {
        seeds[name] = script.bytes();
    }
    return seeds;
}

Seeds SendPacketSeeds()
{
    using Op = SendPacketOp;
    std::map<std::string, Script> scripts;
    scripts["send_after_opening"].Do(Op::Send);
    scripts["write_array"]
        .Do(Op::SelectFunction, 1)
        .Do(Op::SelectLength, 2)
        .Do(Op::SelectData, 0, 0x10)
        .Do(Op::SelectData, 1, 0x20)
        .Do(Op::SelectData, 2, 0x30)
        .Do(Op::Send);
    scripts["string_form"].Do(Op::Text, 1, 2).Text("AB").Do(Op::Send);
    scripts["string_form_empty"].Do(Op::Text, 1, 0).Do(Op::Send);
    scripts["string_then_array"].Do(Op::Text, 1, 2).Text("AB").Do(Op::SelectFunction, 1).Do(Op::Send);
    scripts["blank_area"].Do(Op::SelectFunction, 3).Do(Op::SelectLength, 5).Do(Op::SelectData, 0, 0x1A).Do(Op::Send);
    scripts["longest_text"].Do(Op::Text, 1, 115).Text(std::string(115, 'x')).Do(Op::Send);
    scripts["single_byte_mode"].Do(Op::SynchMode, 1).Do(Op::Keys, 3).Do(Op::Send);
    scripts["paused_link"].Do(Op::ToggleLink).Do(Op::Send).Do(Op::ToggleLink).Do(Op::Wait).Word(10).Do(Op::Send);
    scripts["sends_while_paused"].Do(Op::ToggleLink).Do(Op::Send).Do(Op::Send).Do(Op::ToggleLink).Do(Op::Send);

    Seeds seeds;
    for (const auto& [name, script] : scripts) {
        seeds[name] = script.bytes();
    }
    return seeds;
}

Seeds DialogSeeds()
{
    using Op = DialogOp;
    std::map<std::string, Script> scripts;
    scripts["send_after_opening"].Do(Op::Send);
    scripts["write_array"]
        .Do(Op::ChooseFunction, 1)
        .Do(Op::ChooseLength, 2)
        .Do(Op::ChooseData, 0, 0x10)
        .Do(Op::ChooseData, 1, 0x20)
        .Do(Op::ChooseData, 2, 0x30)
        .Do(Op::Send);
    scripts["string_form"].Do(Op::ClickWriteString).Do(Op::Type, 2).Text("AB").Do(Op::Send);
    scripts["string_form_empty"].Do(Op::ClickWriteString).Do(Op::Send);
    scripts["string_then_array"]
        .Do(Op::ClickWriteString)
        .Do(Op::Type, 2)
        .Text("AB")
        .Do(Op::ChooseFunction, 1)
        .Do(Op::Send);
    scripts["blank_area"].Do(Op::ChooseLength, 5).Do(Op::ChooseFunction, 3).Do(Op::ChooseData, 0, 0x1A).Do(Op::Send);
    scripts["text_too_long"].Do(Op::ClickWriteString).Do(Op::Type, 130).Text(std::string(130, 'y')).Do(Op::Send);
    scripts["hand_checksum"].Do(Op::ClickAutoChecksum).Do(Op::ChooseChecksum, 0x55).Do(Op::Send);
    scripts["longest_array"]
        .Do(Op::ChooseFunction, 1)
        .Do(Op::ChooseLength, 24)
        .Do(Op::ChooseData, 24, 0xFF)
        .Do(Op::Send);

    Seeds seeds;
    for (const auto& [name, script] : scripts) {
        seeds[name] = script.bytes();
    }
    return seeds;
}

Bytes Text(std::string_view text)
{
    return {text.begin(), text.end()};
}

Seeds SettingsSeeds()
{
    return {
        {"saved_off", Text("[General]\nCOM=1\nSave%20Settings=0\nSynch%20Required=0\n")},
        {"saved_on", Text("[General]\nCOM=5\nSave%20Settings=1\nSynch%20Required=1\n")},
        {"device_path", Text("[General]\nCOM=1\nDevice=/dev/ttyUSB0\nSave%20Settings=1\nSynch%20Required=0\n")},
        {"synch_missing", Text("[General]\nCOM=7\nSave%20Settings=1\n")},
        {"not_a_number", Text("[General]\nSave%20Settings=yes\nCOM=7\n")},
        {"out_of_range", Text("[General]\nCOM=4294967296\nSave%20Settings=1\nSynch%20Required=-1\n")},
        {"truncated", Text("[General]\nCOM=5\nSave%20Sett")},
        {"other_group", Text("[General]\nSave%20Settings=1\n[Other]\nkept=yes\n")},
        {"typed_values", Text("[General]\nCOM=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nSave%20Settings=@ByteArray(1)\n")},
        {"unclosed_group", Text("@\n[")},
    };
}

bool FoundByAFuzzRun(const fs::path& file)
{
    const std::string name = file.filename().string();
    return name.size() == 40 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool Write(const fs::path& corpus, const std::string& target, const Seeds& seeds)
{
    const fs::path folder = corpus / target;
    std::error_code error;
    fs::create_directories(folder, error);
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!FoundByAFuzzRun(entry.path())) {
            fs::remove(entry.path(), error);
        }
    }
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_seeds: cannot write %s\n", (folder / name).c_str());
            return false;
        }
    }
    return true;
}

} // namespace
} // namespace quillon::fuzzing

int main(int argc, char** argv)
{
    using namespace quillon::fuzzing;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    const bool written = Write(corpus, "link_fuzzer", LinkSeeds()) && Write(corpus, "display_fuzzer", DisplaySeeds()) &&
                         Write(corpus, "send_packet_fuzzer", SendPacketSeeds()) &&
                         Write(corpus, "send_packet_dialog_fuzzer", DialogSeeds()) &&
                         Write(corpus, "settings_fuzzer", SettingsSeeds());
    return written ? 0 : 1;
}
