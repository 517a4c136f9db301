#include "ui/stop_signals.h"

#include <csignal>

#include <QCoreApplication>
#include <QTimer>

namespace quillon {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    stopSignal = signal;
}

// How often the event loop looks for a signal: a handler may do no more than
// set a flag, and a tenth of a second is quick enough for a person or a
// script waiting for the program to end.
constexpr int kLookEveryMs = 100;

} // namespace

void QuitOnStopSignals(QCoreApplication& application)
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    auto* look = new QTimer(&application);
    QObject::connect(look, &QTimer::timeout, &application, [&application] {
        if (stopSignal != 0) {
            application.exit(0);
        }
    });
    look->start(kLookEveryMs);
}

void EndByStopSignal()
{
    const int signal = stopSignal;
    if (signal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

} // namespace quillon
