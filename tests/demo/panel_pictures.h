#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tests/support/fakes.h"
#include "tools/demo/demo_model.h"
#include "tools/demo/demo_screens.h"

namespace quillon::testing {

using Pages = std::array<std::array<std::uint8_t, 128>, 8>;

// The status byte a reply carries, in any of its three forms.
std::uint8_t StatusOf(const std::vector<std::uint8_t>& reply);

// Sends the frames, packed into blocks, to the panel one block at a time and
// returns the status byte of each reply.
std::vector<std::uint8_t> SendFrames(EngineFixture& panel, const std::vector<demo::Frame>& frames);

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
