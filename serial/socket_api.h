#pragma once

// The few calls of the sockets interface that differ between POSIX and
// Winsock, for the TCP port and the line server. Included by their sources
// only, so no system header reaches the rest of the program.

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quillon::sockets {

#ifdef _WIN32
using Socket = SOCKET;
using PollEntry = WSAPOLLFD;
using AddressSize = int;
constexpr Socket kNoSocket = INVALID_SOCKET;
// Winsock raises no signal for a peer that has gone.
constexpr int kNoSignal = 0;
#else
using Socket = int;
using PollEntry = pollfd;
using AddressSize = socklen_t;
constexpr Socket kNoSocket = -1;
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

// What a socket is kept as in the headers that must not include the system's
// (tcp_port.h): wide enough for either system's socket.
using StoredSocket = std::intptr_t;
constexpr StoredSocket kNoStoredSocket = -1;

inline StoredSocket Store(Socket socket)
{
    return socket == kNoSocket ? kNoStoredSocket : static_cast<StoredSocket>(socket);
}
inline Socket Restore(StoredSocket stored)
{
    return stored == kNoStoredSocket ? kNoSocket : static_cast<Socket>(stored);
}

// A new socket that child processes do not inherit; kNoSocket on failure.
// Winsock is started the first time.
Socket Open(int family, int type, int protocol);
// Takes a waiting connection, non-blocking; kNoSocket when none.
Socket Accept(Socket listener, sockaddr* from, AddressSize* size);
void Close(Socket socket);
void SetNonBlocking(Socket socket);
// Sends what is written at once instead of holding small writes back until
// the last ones are acknowledged: the panel link and the control socket
// exchange short messages that the other side waits for.
void SetNoDelay(Socket socket);
int Poll(PollEntry* entries, std::size_t count, int timeoutMs);
// The bytes that can be read without waiting; false when the socket fails.
bool BytesWaiting(Socket socket, std::size_t& count);

// The error of the last failed call of this thread, and its text.
int LastError();
std::string ErrorText(int error);
// Whether an error only means "not now": the call would have waited.
bool WouldWait(int error);
// Whether a non-blocking connect is under way rather than failed.
bool ConnectPending(int error);

// Something a thread blocked in Poll can wait on (for POLLIN) and any other
// thread can make readable: how a server's thread is woken for new work. A
// pipe on POSIX; on Windows, where Poll takes sockets only, a loopback UDP
// socket that sends to itself.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    Socket socket() const { return in_; }
    void Wake();
    // Takes back every wake so far.
    void Drain();

private:
    Socket in_ = kNoSocket;
    Socket out_ = kNoSocket;
};

} // namespace quillon::sockets
