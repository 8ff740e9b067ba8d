#include "loopbacksockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

namespace {

sockaddr_in Loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

void Fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

int ListenOnLoopback(quint16& port, const char* who) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) {
        Fail(who);
    }
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Fail(who);
    }
    port = ntohs(address.sin_port);
    return listener;
}

int ConnectToLoopback(quint16 port) {
    const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    if (connection < 0 ||
        ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (connection >= 0) {
            ::close(connection);
        }
        return -1;
    }
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connection;
}

bool SendAll(int socket, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t sent =
            ::send(socket, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.sliced(sent);
    }
    return true;
}

bool WaitReadable(int socket, const std::atomic<bool>& stopping) {
    pollfd wanted{socket, POLLIN, 0};
    while (!stopping) {
        const int ready = ::poll(&wanted, 1, kPollMs);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

} // namespace bench
