#pragma once

#include <cstdio>

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

// Writes each message as lines of text, prefixed with the program's name.
class StreamSink : public MessageSink {
public:
    explicit StreamSink(std::FILE* stream) : stream_(stream) {}
    void ShowMessage(MessageIcon icon, const QString& text) override;

private:
    std::FILE* stream_;
};

} // namespace quillon
