#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/fakes.h"
#include "demo/demo_model.h"
#include "demo/demo_screens.h"

namespace quillon::testing {

// The status byte a reply carries, in any of its three forms.
std::uint8_t StatusOf(const Bytes& reply);

// Sends the frames, packed into blocks, to the panel one block at a time and
// returns the status byte of each reply.
std::vector<std::uint8_t> SendFrames(EngineFixture& panel, const std::vector<demo::Frame>& frames);

// Covers the whole display with one column byte, through the link as a
// device would, so a picture drawn after it shows whatever it fails to
// overwrite.
void FillDisplay(EngineFixture& panel, std::uint8_t columnByte);

// What a panel shows once the whole screen of the model has been drawn on it.
Pages PictureOf(const demo::DemoModel& model);

// The demo's own claims about a picture, checked without the engine's help.
// The menu line on `page` is drawn inverse: the gap column of its first
// character cell is dark.
bool LineIsInverse(const Pages& pages, int page);

// The model with one field changed, for readable expectations.
demo::DemoModel MenuAt(int index);
demo::DemoModel ScreenOf(demo::Screen screen, int menuIndex);

} // namespace quillon::testing
