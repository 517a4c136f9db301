#pragma once

#include <functional>

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace quillon {

// The running program listens on a local socket of its own user and runs
// command identifiers sent to it, as if they had been sent to its main
// window: `quillon --send-command 32806` opens the Send Packet dialog,
// which no menu entry reaches.
//
// One request is one line: the identifier in decimal. The answer is one
// line: "ok" when the program has the command, "unknown" when it has not.

// The socket's path: in the user's runtime directory.
QString CommandSocketPath();

class CommandServer final : public QObject {
    Q_OBJECT

public:
    // isCommand tells which identifiers the program has.
    explicit CommandServer(std::function<bool(int)> isCommand, QObject* parent = nullptr);

    // Starts listening. Takes over a socket left behind by a program that
    // has ended; fails while another running program answers on it.
    bool Listen(const QString& path);

signals:
    // Emitted for every known command, after its sender has been answered.
    void commandReceived(int id);

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    std::function<bool(int)> isCommand_;
    QLocalServer* server_;
};

enum class SendResult {
    Delivered,
    NotRunning, // no program answers on the socket
    Unknown,    // the program has no such command
};

// Sends one command identifier and waits for the answer. Blocking; for the
// command-line client.
SendResult SendCommand(const QString& path, int id, int timeoutMs);

} // namespace quillon
