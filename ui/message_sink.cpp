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

} // namespace quillon
