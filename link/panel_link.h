#pragma once

#include <cstdint>
#include <stop_token>
#include <thread>

#include "link/engine_interfaces.h"
#include "link/link_state.h"

namespace quillon {

// What one pass of the receiver found.
enum class ReceiveResult {
    NoInput,     // nothing waiting, or the port could not be queried
    Held,        // bytes are waiting but stay queued while the link is paused
    ByteHandled, // one byte was read (stored or dropped)
};

// Where PrepareText takes its characters from.
enum class TextSource {
    CurrentFrame, // the WRITE STRING frame at dataPtr, frameLength - 2 characters
    GivenText,    // textLength characters already placed at textPtr
};

// The link object: the receiver, the supervisor and the whole display
// controller of the emulated panel. Its operations are defined in the files
// of the part they belong to: link/receiver.cpp, link/supervisor.cpp,
// link/injection.cpp and the files of display/.
//
// It reaches the outside world only through the view, the port and the
// clock, and keeps no state of its own beyond the synchronisation fields, the
// draw request and the reader thread.
class CPanelLink {
public:
    CPanelLink(LinkState& state, PanelView& view, PanelPort& port, Clock& clock);
    virtual ~CPanelLink();
    CPanelLink(const CPanelLink&) = delete;
    CPanelLink& operator=(const CPanelLink&) = delete;

    // Frame receiver (reader thread).
    void StartReceiveThread();
    void StopReceiveThread();
    void ReceiveThreadProc(std::stop_token stop);
    // One pass of the receiver: looks at the port once and handles at most
    // one byte.
    ReceiveResult ReceivePass();

    // Link supervisor (UI thread, every 10 ms).
    void LinkTick();
    void MergeKeyBits();
    bool ProcessFrames();
    void CheckTimeouts();
    void SendReply(bool answersFrame);
    void SendSynchRequest();

    // A hand-made frame fed to the supervisor as if the device had sent it as
    // a one-frame block: bit 7 is set on the code byte and the checksum is
    // computed here. length is at most kMaxFrameDataLength.
    // Returns the checksum the frame carries.
    std::uint8_t InjectFrame(std::uint8_t functionCode, const std::uint8_t* data, std::uint8_t length);

    // Column writes.
    void WriteColumnRun(const std::uint8_t* source);
    void ClearPages();

    // Validation and dispatch.
    std::uint8_t ValidateFrame();
    void ExecuteFrame();

    // Display commands, one per function code.
    void WriteString();
    void WriteArray();
    void SetupDisplay();
    void BlankArea();
    void SetContrast();
    void DrawSliderBar();
    void DrawAndRepeat();
    void DrawIcon();
    void SetContrastAndReplyMode();

    // Text rendering.
    void PrepareText(TextSource source);
    void RenderText();
    static std::uint8_t StretchGlyphColumn(std::uint8_t size, std::uint8_t bandPage, std::uint8_t glyphByte);
    void PutString(const char* text, std::uint8_t attribute, std::uint8_t column, bool clearFirst);
    void WriteFrameHeader();

    // Start-up screen.
    void ShowStartupScreen();

    const DrawRequest& drawRequest() const { return drawRequest_; }
    LinkState& state() { return state_; }

    // Nonzero while synchronisation requests are wanted.
    std::uint32_t needSync = 1;
    // Clock value when the last synchronisation request went out.
    std::uint32_t lastSyncTick = 0;

private:
    // Copies count characters from rxBuffer at offset into textCopy and points
    // textPtr at them.
    void CopyTextFromFrame(std::uint8_t offset, std::uint8_t count);

    LinkState& state_;
    PanelView& view_;
    PanelPort& port_;
    Clock& clock_;
    DrawRequest drawRequest_;
    std::jthread readerThread_;
};

} // namespace quillon
