#include "linkproxy.h"

#include "loopbacksockets.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// What the link carries as one piece: small enough that a reply streams at the bandwidth
// rather than in bursts (16 KiB take 6.5 ms at 20 Mbit/s).
constexpr size_t kChunk = 16 * 1024;

struct TChunk {
    Clock::time_point due;
    std::vector<char> bytes;
};

} // namespace

TLinkProxy::TConnection::~TConnection() {
    ::close(client);
    ::close(server);
}

TLinkProxy::TLinkProxy(quint16 serverPort, TLinkShape shape)
    : serverPort_(serverPort), shape_(shape) {
    listener_ = ListenOnLoopback(port_, "link proxy");
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TLinkProxy::~TLinkProxy() {
    stopping_ = true;
    acceptor_.join();
    for (std::thread& pump : pumps_) {
        pump.join();
    }
    ::close(listener_);
}

void TLinkProxy::AcceptLoop() {
    while (WaitReadable(listener_, stopping_)) {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client >= 0) {
            Relay(client);
        }
    }
}

void TLinkProxy::Relay(int client) {
    auto connection = std::make_shared<TConnection>();
    connection->client = client;
    connection->server = ConnectToLoopback(serverPort_);
    if (connection->server < 0) {
        std::perror("link proxy: server");
        return;
    }
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::lock_guard lock(pumpsLock_);
    pumps_.emplace_back([this, connection] { Pump(connection, true); });
    pumps_.emplace_back([this, connection] { Pump(connection, false); });
}

void TLinkProxy::Pump(std::shared_ptr<TConnection> connection, bool towardServer) const {
    const int from = towardServer ? connection->client : connection->server;
    const int to = towardServer ? connection->server : connection->client;
    const auto oneWay = std::chrono::microseconds(shape_.roundTripMs * 500);
    const double bytesPerMicrosecond = shape_.megabitsPerSecond / 8;
    std::deque<TChunk> inFlight;
    Clock::time_point linkFree = Clock::now();
    bool fromOpen = true;
    while (!stopping_ && (fromOpen || !inFlight.empty())) {
        const Clock::time_point now = Clock::now();
        while (!inFlight.empty() && inFlight.front().due <= now) {
            const std::vector<char>& bytes = inFlight.front().bytes;
            if (!SendAll(to, QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())))) {
                return;
            }
            inFlight.pop_front();
        }
        int waitMs = kPollMs;
        if (!inFlight.empty()) {
            const auto untilDue =
                std::chrono::ceil<std::chrono::milliseconds>(inFlight.front().due - Clock::now());
            waitMs = std::clamp(static_cast<int>(untilDue.count()), 0, kPollMs);
        }
        pollfd wanted{from, static_cast<short>(fromOpen ? POLLIN : 0), 0};
        if (::poll(&wanted, 1, waitMs) <= 0 || !(wanted.revents & (POLLIN | POLLHUP))) {
            continue;
        }
        std::vector<char> bytes(kChunk);
        const ssize_t received = ::recv(from, bytes.data(), bytes.size(), 0);
        if (received <= 0) {
            fromOpen = false;
            continue;
        }
        bytes.resize(static_cast<size_t>(received));
        // The link carries one chunk after the other; this one leaves once the link is free
        // and has carried it, and arrives half a round trip later.
        const auto carrying = std::chrono::microseconds(
            static_cast<qint64>(static_cast<double>(received) / bytesPerMicrosecond));
        linkFree = std::max(linkFree, Clock::now()) + carrying;
        inFlight.push_back({linkFree + oneWay, std::move(bytes)});
    }
    ::shutdown(to, SHUT_WR);
}

} // namespace bench
