#pragma once

#include <memory>

#include <QApplication>

#include "ui/main_window.h"

namespace quillon {

// The application object: its names, version and icon, and the one window.
class Application final : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    // Creates the main window (which reads the settings and opens the port),
    // starts its panel's link and shows it at the top left of the screen.
    std::unique_ptr<MainWindow> ShowMainWindow(const WindowContext& context);
};

// The whole program, from the command line to the end of the event loop.
int RunQuillon(int argc, char** argv);

} // namespace quillon
