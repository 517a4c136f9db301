#include "ui/demo_mode.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <QFile>

#include "ui/main_window.h"

namespace quillon {

DemoMode::DemoMode(demo::DemoOptions options) : device_(std::move(options))
{
}

DemoMode::~DemoMode()
{
    Stop();
}

#ifdef Q_OS_WIN

bool DemoMode::CreatePort()
{
    error_.clear();
    return true;
}

const VirtualPort* DemoMode::virtualPort() const
{
    return nullptr;
}

PanelPort* DemoMode::line()
{
    return &line_.panelEnd();
}

PortTarget DemoMode::Target() const
{
    return PortTarget::Virtual(QStringLiteral("an in-process line"));
}

int DemoMode::Start(MainWindow& window)
{
    error_.clear();
    device_.Start(line_.deviceEnd());
    connect(&window, &MainWindow::closed, this, &DemoMode::Stop, Qt::UniqueConnection);
    return 0;
}

#else

bool DemoMode::CreatePort()
{
    error_.clear();
    if (!port_.Create()) {
        error_ = QString::fromStdString(port_.ErrorText());
        return false;
    }
    return true;
}

const VirtualPort* DemoMode::virtualPort() const
{
    return &port_;
}

PanelPort* DemoMode::line()
{
    return nullptr;
}

PortTarget DemoMode::Target() const
{
    return PortTarget::Virtual(QFile::decodeName(port_.DevicePath().c_str()));
}

int DemoMode::Start(MainWindow& window)
{
    error_.clear();
    errno = 0;
    const int failedStep = device_.Start(port_.DevicePath());
    // Read at once, before any other call can change it: the reason belongs
    // to the failed set-up step.
    const int reason = errno;
    if (failedStep != 0) {
        error_ =
            QStringLiteral("the demo device cannot use %1 (set-up step %2 failed%3)")
                .arg(Target().path)
                .arg(failedStep)
                .arg(reason != 0 ? QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(reason)) : QString());
        return failedStep;
    }
    connect(&window, &MainWindow::closed, this, &DemoMode::Stop, Qt::UniqueConnection);
    return 0;
}

#endif

void DemoMode::Stop()
{
    device_.Stop();
}

} // namespace quillon
