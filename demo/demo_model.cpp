#include "demo/demo_model.h"

#include <algorithm>
#include <array>

namespace quillon::demo {

namespace {

constexpr std::array<Screen, kMenuLineCount> kMenuTargets{Screen::SetPoint, Screen::Contrast, Screen::Status,
                                                          Screen::Patterns, Screen::PanelInfo};

int Wrap(int value, int count)
{
    return (value % count + count) % count;
}

// Up raises a value, down lowers it, within 0..max.
int Adjust(int value, Key key, int max)
{
    if (key == Key::Up) {
        return std::min(value + 1, max);
    }
    if (key == Key::Down) {
        return std::max(value - 1, 0);
    }
    return value;
}

} // namespace

Screen MenuTarget(int index)
{
    return kMenuTargets.at(static_cast<std::size_t>(index));
}

const char* ScreenName(Screen screen)
{
    switch (screen) {
    case Screen::Menu:
        return "main menu";
    case Screen::SetPoint:
        return "set point";
    case Screen::Contrast:
        return "contrast";
    case Screen::Status:
        return "status";
    case Screen::Patterns:
        return "test patterns";
    case Screen::PanelInfo:
        return "panel info";
    }
    return "?";
}

DemoModel ApplyKey(const DemoModel& model, Key key)
{
    DemoModel next = model;
    if (model.screen == Screen::Menu) {
        if (key == Key::Up || key == Key::Down) {
            next.menuIndex = Wrap(model.menuIndex + (key == Key::Down ? 1 : -1), kMenuLineCount);
        } else if (key == Key::Right) {
            next.screen = MenuTarget(model.menuIndex);
        }
        return next;
    }
    if (key == Key::Left) {
        next.screen = Screen::Menu;
        return next;
    }
    switch (model.screen) {
    case Screen::SetPoint:
        next.setPoint = Adjust(model.setPoint, key, kSetPointMax);
        break;
    case Screen::Contrast:
        next.contrast = Adjust(model.contrast, key, kContrastMax);
        break;
    case Screen::Patterns:
        if (key == Key::Up || key == Key::Down) {
            next.pattern = Wrap(model.pattern + (key == Key::Down ? 1 : -1), kPatternCount);
        }
        break;
    case Screen::Menu:
    case Screen::Status:
    case Screen::PanelInfo:
        break;
    }
    return next;
}

bool IsAnimated(const DemoModel& model)
{
    return model.screen == Screen::Status;
}

DemoModel Animate(const DemoModel& model)
{
    DemoModel next = model;
    if (IsAnimated(model)) {
        ++next.statusStep;
    }
    return next;
}

} // namespace quillon::demo
