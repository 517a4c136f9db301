#pragma once

#include <memory>

#include <QApplication>

#include "ui/main_frame.h"

namespace quillon {

// The application object: starts the one document window.
class CCorvaneApp final : public QApplication {
    Q_OBJECT

public:
    CCorvaneApp(int& argc, char** argv);

    // Creates the document with its main frame and view (the frame reads
    // the settings and opens the port), gives the view its initial update,
    // and shows the window at the top left of the screen.
    std::unique_ptr<CMainFrame> InitInstance(const FrameContext& context);
};

// The whole program, from the command line to the end of the event loop.
int RunQuillon(int argc, char** argv);

} // namespace quillon
