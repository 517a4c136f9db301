#pragma once

#include <QDialog>

namespace quillon {

// The About box: the About picture, the version line and OK.
class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace quillon
