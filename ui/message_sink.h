#pragma once

#include <QString>

namespace quillon {

enum class MessageIcon {
    Exclamation, // settings could not be read or saved
    Error,       // a port could not be opened
};

// Where the program's modal messages go. The program shows them in message
// boxes; tests collect them instead, so no test ever waits for a click.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows the text with the given icon, an OK button and the caption
    // "Quillon", and returns once it has been dismissed.
    virtual void ShowMessage(MessageIcon icon, const QString& text) = 0;
};

class MessageBoxSink : public MessageSink {
public:
    void ShowMessage(MessageIcon icon, const QString& text) override;
};

} // namespace quillon
