#include "ui/option_error.h"

#include <cstdio>

#include <QApplication>

#include "serial/standard_output.h"
#include "ui/message_sink.h"

namespace quillon {

namespace {

constexpr int kBadOptionStatus = 2;

} // namespace

int TellBadOption(int argc, char** argv, const QString& error)
{
    if (ReachStandardError()) {
        std::fputs(
            QStringLiteral("quillon: %1\nTry 'quillon --help' for the options.\n").arg(error).toLocal8Bit().constData(),
            stderr);
        std::fflush(stderr);
        return kBadOptionStatus;
    }
    // Only a Windows desktop program gets here, and its help reaches a user
    // without a console only through a file.
    QApplication application(argc, argv);
    MessageBoxSink().ShowMessage(
        MessageIcon::Error,
        QStringLiteral("%1\r\n\r\nquillon.exe --help > help.txt writes every option to a file.").arg(error));
    return kBadOptionStatus;
}

} // namespace quillon
