#pragma once

#include <QDialog>

namespace quillon {

// The About box: the About picture, the version line and OK.
class AboutDialog final : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace quillon
