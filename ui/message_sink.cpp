#include "ui/message_sink.h"

#include <QApplication>
#include <QMessageBox>

namespace quillon {

void MessageBoxSink::ShowMessage(MessageIcon icon, const QString& text)
{
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                    QStringLiteral("Quillon"), text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void StreamSink::ShowMessage(MessageIcon, const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stream_, "quillon: %s\n", lines.toLocal8Bit().constData());
    std::fflush(stream_);
}

} // namespace quillon
