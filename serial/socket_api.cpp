#include "serial/socket_api.h"

#include <cstring>

#ifdef _WIN32
#include <mutex>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#endif

namespace quillon::sockets {

#ifdef _WIN32

namespace {

void StartWinsock()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

} // namespace

Socket Open(int family, int type, int protocol)
{
    StartWinsock();
    return WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

Socket Accept(Socket listener, sockaddr* from, AddressSize* size)
{
    const Socket socket = accept(listener, from, size);
    if (socket != kNoSocket) {
        SetNonBlocking(socket);
    }
    return socket;
}

void Close(Socket socket)
{
    closesocket(socket);
}

void SetNonBlocking(Socket socket)
{
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

int Poll(PollEntry* entries, std::size_t count, int timeoutMs)
{
    return WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
}

bool BytesWaiting(Socket socket, std::size_t& count)
{
    u_long waiting = 0;
    if (ioctlsocket(socket, FIONREAD, &waiting) != 0) {
        return false;
    }
    count = waiting;
    return true;
}

int LastError()
{
    return WSAGetLastError();
}

std::string ErrorText(int error)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "socket error " + std::to_string(error) : reason;
}

bool WouldWait(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

bool ConnectPending(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

Waker::Waker()
{
    in_ = Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    AddressSize size = sizeof address;
    if (in_ == kNoSocket || bind(in_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(in_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        connect(in_, reinterpret_cast<sockaddr*>(&address), size) != 0) {
        return;
    }
    SetNonBlocking(in_);
    out_ = in_;
}

Waker::~Waker()
{
    if (in_ != kNoSocket) {
        Close(in_);
    }
}

void Waker::Wake()
{
    const char byte = 1;
    send(out_, &byte, 1, 0);
}

void Waker::Drain()
{
    char drain[64];
    while (recv(in_, drain, sizeof drain, 0) > 0) {
    }
}

#else

Socket Open(int family, int type, int protocol)
{
    return socket(family, type | SOCK_CLOEXEC, protocol);
}

Socket Accept(Socket listener, sockaddr* from, AddressSize* size)
{
    return accept4(listener, from, size, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

void Close(Socket socket)
{
    close(socket);
}

void SetNonBlocking(Socket socket)
{
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
}

int Poll(PollEntry* entries, std::size_t count, int timeoutMs)
{
    return poll(entries, count, timeoutMs);
}

bool BytesWaiting(Socket socket, std::size_t& count)
{
    int waiting = 0;
    if (ioctl(socket, FIONREAD, &waiting) != 0) {
        return false;
    }
    count = static_cast<std::size_t>(waiting);
    return true;
}

int LastError()
{
    return errno;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

bool WouldWait(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool ConnectPending(int error)
{
    return error == EINPROGRESS;
}

Waker::Waker()
{
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        in_ = ends[0];
        out_ = ends[1];
    }
}

Waker::~Waker()
{
    if (in_ != kNoSocket) {
        close(in_);
        close(out_);
    }
}

void Waker::Wake()
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(out_, &byte, 1);
}

void Waker::Drain()
{
    char drain[64];
    while (read(in_, drain, sizeof drain) > 0) {
    }
}

#endif

void SetNoDelay(Socket socket)
{
    const int yes = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
}

} // namespace quillon::sockets
