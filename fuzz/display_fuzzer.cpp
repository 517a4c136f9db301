// The display controller alone: arbitrary frames validated and, when they
// pass, carried out, with program texts and the start-up screen in between.
// Every frame runs twice, once as the bytes that arrived and once padded with
// zeros (a byte past the end must read as 0) on a twin of the controller. After every step the display
// memory may differ only where the controller reported a column run, each
// run lies inside the display on one page, the rectangle a command reports is
// the union of its runs, and the errors and reply mode it returns agree with
// the frame.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "display/display_controller.h"
#include "fuzz/harness.h"
#include "fuzz/scripts.h"

namespace quillon::fuzzing {
namespace {

// Longest frame a length byte can announce, with room to read past it.
constexpr std::size_t kPaddedFrame = 2 + 255 + 1 + 1;
constexpr std::uint8_t kHighestContrast = 63;

std::uint8_t At(std::span<const std::uint8_t> bytes, std::size_t index)
{
    return index < bytes.size() ? bytes[index] : 0;
}

// Keeps every run the controller reports and checks where it lies.
class RunLog : public RunListener {
public:
    void RunWritten(const DisplayRect& area) override
    {
        QUILLON_FUZZ_CHECK(area.top % kRowsPerPage == 0);
        QUILLON_FUZZ_CHECK(area.height() == kRowsPerPage);
        QUILLON_FUZZ_CHECK(area.top >= 0 && area.bottom <= kDisplayHeight);
        QUILLON_FUZZ_CHECK(area.left >= 0 && area.left <= area.right && area.right <= kDisplayWidth);
        runs.push_back(area);
        everything = everything.United(area);
    }

    DisplayRect Union() const
    {
        DisplayRect united;
        for (const DisplayRect& run : runs) {
            united = united.United(run);
        }
        return united;
    }

    std::vector<DisplayRect> runs;
    DisplayRect everything;
};

using Pages = std::array<DisplayMemory::Page, kDisplayPages>;

Pages Snapshot(const DisplayMemory& memory)
{
    Pages pages;
    for (int page = 0; page < kDisplayPages; ++page) {
        pages[page] = memory.PageBytes(page);
    }
    return pages;
}

// A controller with its listener, and what it held before the step.
struct Panel {
    Panel() { controller.SetRunListener(&log); }

    void Begin()
    {
        before = Snapshot(controller.memory());
        countBefore = controller.memory().changeCount();
        contrastBefore = controller.contrast();
        log.runs.clear();
    }

    // Only the columns of reported runs changed, every run was counted, and
    // the memory's record of changes covers exactly the runs so far.
    void End() const
    {
        const DisplayMemory& memory = controller.memory();
        QUILLON_FUZZ_CHECK(memory.changeCount() - countBefore == log.runs.size());
        QUILLON_FUZZ_CHECK(memory.changes() == log.everything);
        for (int page = 0; page < kDisplayPages; ++page) {
            if (memory.PageBytes(page) == before[page]) {
                continue;
            }
            for (int column = 0; column < kDisplayColumns; ++column) {
                if (memory.Column(page, column) == before[page][column]) {
                    continue;
                }
                bool covered = false;
                for (const DisplayRect& run : log.runs) {
                    covered = covered || run.Contains(column, page * kRowsPerPage);
                }
                QUILLON_FUZZ_CHECK(covered);
            }
        }
    }

    DisplayController controller;
    RunLog log;
    Pages before{};
    std::uint64_t countBefore = 0;
    std::uint8_t contrastBefore = 0;
};

// Validation as the frame envelope defines it: the checksum over the code,
// length and data bytes, and the length rule of the code.
std::uint8_t ExpectedValidation(std::span<const std::uint8_t> frame)
{
    const std::uint8_t length = At(frame, 1);
    std::array<std::uint8_t, kPaddedFrame> bytes{};
    for (std::size_t i = 0; i < std::size_t{length} + 2; ++i) {
        bytes[i] = At(frame, i);
    }
    std::uint8_t errors = 0;
    if (At(frame, 2u + length) != FrameChecksum(bytes.data(), std::size_t{length} + 2)) {
        errors |= kStatusChecksumError;
    }
    if (!LengthAllowed(At(frame, 0) & kFunctionCodeMask, length)) {
        errors |= kStatusFrameError;
    }
    return errors;
}

// What one command must have done, whatever it drew.
void CheckCommand(const Panel& panel, std::span<const std::uint8_t> frame, const CommandResult& result)
{
    const std::uint8_t code = At(frame, 0) & kFunctionCodeMask;
    QUILLON_FUZZ_CHECK((result.errors & ~kStatusFrameError) == 0);
    QUILLON_FUZZ_CHECK(result.changed == panel.log.Union());
    QUILLON_FUZZ_CHECK(result.replyMode.has_value() == (code == kSetContrastAndReplyMode));
    if (result.replyMode) {
        QUILLON_FUZZ_CHECK(*result.replyMode == (At(frame, 3) | (At(frame, 4) << 8)));
    }
    const DisplayController& controller = panel.controller;
    if (code == kSetContrast || code == kSetContrastAndReplyMode) {
        QUILLON_FUZZ_CHECK(controller.contrast() == std::min(At(frame, 2), kHighestContrast));
    } else {
        QUILLON_FUZZ_CHECK(controller.contrast() == panel.contrastBefore);
    }
    const bool drawsNothing = code == kReadSwitches || code == kSetContrast || code == kSetContrastAndReplyMode ||
                              (code == kSetupDisplay && (At(frame, 2) & 0x80) == 0);
    if (drawsNothing) {
        QUILLON_FUZZ_CHECK(panel.log.runs.empty());
        QUILLON_FUZZ_CHECK(result.errors == 0);
    }

    const DisplayMemory& memory = controller.memory();
    const std::uint8_t length = At(frame, 1);
    if (code == kWriteArray) {
        // An array that fits lands exactly where it was sent.
        const std::uint8_t column = At(frame, 2);
        const std::uint8_t page = At(frame, 3);
        const std::size_t count = length - 2u;
        if (page < kDisplayPages && column + count <= kDisplayColumns) {
            QUILLON_FUZZ_CHECK(result.errors == 0);
            for (std::size_t i = 0; i < count; ++i) {
                QUILLON_FUZZ_CHECK(memory.Column(page, static_cast<int>(column + i)) == At(frame, 4 + i));
            }
        }
    }
    if (code == kBlankArea) {
        // A page range in order clears those pages and nothing else.
        const std::uint8_t range = At(frame, 2);
        const int first = range & 0x07;
        const int last = (range >> 3) & 0x07;
        const bool inOrder = (range & 0xC0) == 0 && first <= last;
        QUILLON_FUZZ_CHECK(result.errors == (inOrder ? 0 : kStatusFrameError));
        QUILLON_FUZZ_CHECK(panel.log.runs.empty() == !inOrder);
        for (int page = first; inOrder && page <= last; ++page) {
            for (int column = 0; column < kDisplayColumns; ++column) {
                QUILLON_FUZZ_CHECK(memory.Column(page, column) == 0);
            }
        }
    }
}

// A frame as it arrived and, on a twin of the controller, the same frame
// padded with zeros: both must do exactly the same.
void RunFrame(Panel& panel, std::span<const std::uint8_t> frame)
{
    std::array<std::uint8_t, kPaddedFrame> padded{};
    std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), padded.size())),
              padded.begin());

    const std::uint8_t errors = DisplayController::ValidateFrame(frame);
    QUILLON_FUZZ_CHECK(errors == ExpectedValidation(frame));
    QUILLON_FUZZ_CHECK(DisplayController::ValidateFrame(padded) == errors);
    if (errors != 0) {
        return;
    }
    DisplayController twin = panel.controller;
    RunLog twinLog;
    twin.SetRunListener(&twinLog);

    panel.Begin();
    const CommandResult result = panel.controller.ExecuteFrame(frame);
    panel.End();
    CheckCommand(panel, frame, result);

    const CommandResult paddedResult = twin.ExecuteFrame(padded);
    QUILLON_FUZZ_CHECK(paddedResult.errors == result.errors);
    QUILLON_FUZZ_CHECK(paddedResult.replyMode == result.replyMode);
    QUILLON_FUZZ_CHECK(paddedResult.changed == result.changed);
    QUILLON_FUZZ_CHECK(twinLog.runs == panel.log.runs);
    QUILLON_FUZZ_CHECK(Snapshot(twin.memory()) == Snapshot(panel.controller.memory()));
}

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteScript input(data, size);
    Panel panel;
    // The start-up screen takes nothing from the input: once per input shows
    // all it can, and more would only cost time.
    bool startupShown = false;

    while (!input.AtEnd()) {
        const auto operation = NextOperation<DisplayOp>(input);
        switch (operation) {
        case DisplayOp::RawFrame:
            RunFrame(panel, input.Take(input.Below(kRxBufferSize + 1)));
            break;
        case DisplayOp::Frame:
        case DisplayOp::CutFrame: {
            const std::uint8_t code = input.Byte();
            const Bytes frame =
                EncodeFrame(code, input.Take(input.Below(kMaxFrameDataLength + 1)), (code & kLastFrameBit) != 0);
            const std::size_t keep =
                operation == DisplayOp::CutFrame ? input.Below(static_cast<unsigned>(frame.size()) + 1) : frame.size();
            RunFrame(panel, std::span(frame).first(keep));
            break;
        }
        case DisplayOp::PutString: {
            const std::uint8_t attribute = input.Byte();
            const std::uint8_t column = input.Byte();
            const bool clearFirst = (input.Byte() & 1) != 0;
            const Bytes text = input.Take(input.Below(32));
            panel.Begin();
            const std::uint8_t errors =
                panel.controller.PutString(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                                           attribute, column, clearFirst);
            QUILLON_FUZZ_CHECK((errors & ~kStatusFrameError) == 0);
            panel.End();
            break;
        }
        case DisplayOp::StartupScreen:
        case DisplayOp::Count:
            if (!startupShown) {
                startupShown = true;
                panel.Begin();
                QUILLON_FUZZ_CHECK(panel.controller.ShowStartupScreen() == 0);
                panel.End();
                QUILLON_FUZZ_CHECK(!panel.log.runs.empty());
            }
            break;
        }
    }
}

} // namespace
} // namespace quillon::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quillon::fuzzing::FuzzOneInput(data, size);
    return 0;
}
