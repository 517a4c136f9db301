#include "ui/command_socket.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace quillon {

namespace {

const QByteArray kKnownAnswer = QByteArrayLiteral("ok");
const QByteArray kUnknownAnswer = QByteArrayLiteral("unknown");
// A request is a few digits; anything longer is not one.
constexpr qint64 kMaxRequestLength = 32;
constexpr int kProbeTimeoutMs = 500;

} // namespace

QString CommandSocketPath()
{
#ifdef Q_OS_WIN
    // A named pipe: pipe names are the machine's, so the user's name is in it.
    return QStringLiteral("quillon.commands.") + qEnvironmentVariable("USERNAME");
#else
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/quillon.commands");
#endif
}

CommandServer::CommandServer(std::function<bool(int)> isCommand, QObject* parent)
    : QObject(parent), isCommand_(std::move(isCommand)), server_(new QLocalServer(this))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &CommandServer::OnNewConnection);
}

bool CommandServer::Listen(const QString& path)
{
    // Listening would quietly take the path over from a running program, so
    // ask first whether one answers there.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(kProbeTimeoutMs)) {
        return false;
    }
    QLocalServer::removeServer(path);
    return server_->listen(path);
}

void CommandServer::OnNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    }
}

void CommandServer::OnReadyRead(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestLength) {
            socket->abort();
        }
        return;
    }
    bool isNumber = false;
    const int id = socket->readLine(kMaxRequestLength).trimmed().toInt(&isNumber);
    const bool known = isNumber && isCommand_(id);
    socket->write((known ? kKnownAnswer : kUnknownAnswer) + '\n');
    socket->flush();
    socket->disconnectFromServer();
    if (known) {
        emit commandReceived(id);
    }
}

SendResult SendCommand(const QString& path, int id, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) {
        return SendResult::NotRunning;
    }
    socket.write(QByteArray::number(id) + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return SendResult::NotRunning;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return SendResult::NotRunning;
        }
    }
    return socket.readLine().trimmed() == kKnownAnswer ? SendResult::Delivered : SendResult::Unknown;
}

} // namespace quillon
