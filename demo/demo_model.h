#pragma once

#include <cstdint>

namespace quillon::demo {

// The panel's keys, as the high nibble of a status byte reports them.
enum class Key : std::uint8_t {
    None = 0,
    Right = 1,
    Left = 2,
    Up = 4,
    Down = 8,
};

enum class Screen : std::uint8_t {
    Menu,
    SetPoint,
    Contrast,
    Status,
    Patterns,
    PanelInfo,
};

inline constexpr int kMenuLineCount = 5;
inline constexpr int kSetPointMax = 99;
inline constexpr int kContrastMax = 63;
inline constexpr int kPatternCount = 4;

// Everything the demo application shows. Two equal models draw the same
// picture, which is what lets the device redraw a screen from scratch after
// the panel has lost it.
struct DemoModel {
    Screen screen = Screen::Menu;
    // The highlighted menu line, 0 to kMenuLineCount - 1.
    int menuIndex = 0;
    // Degrees Celsius, 0 to kSetPointMax.
    int setPoint = 42;
    // 0 to kContrastMax, the range the panel stores.
    int contrast = 32;
    // Test pattern shown, 0 to kPatternCount - 1.
    int pattern = 0;
    // How far the status screen's load trend has moved on.
    int statusStep = 0;

    bool operator==(const DemoModel&) const = default;
};

// The screen that menu line `index` opens.
Screen MenuTarget(int index);
// A short name of the screen for the device's log.
const char* ScreenName(Screen screen);

// The model after a key press: up and down move the highlight, change a value
// or the pattern; right opens the highlighted screen from the menu; left goes
// back to the menu.
DemoModel ApplyKey(const DemoModel& model, Key key);

// Whether the screen changes by itself over time, and the model one step on.
bool IsAnimated(const DemoModel& model);
DemoModel Animate(const DemoModel& model);

} // namespace quillon::demo
