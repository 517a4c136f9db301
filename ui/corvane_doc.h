#pragma once

#include <QObject>

namespace quillon {

// The application's single document. The panel has no file to load or
// save, so it holds nothing; it exists to tie the frame and the view
// together as one document window.
class CCorvaneDoc final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
};

} // namespace quillon
