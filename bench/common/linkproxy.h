#pragma once

// A network link for the benchmarks: a TCP relay on 127.0.0.1 between the client and a server
// that adds what a user at home has between them and their news provider, a round-trip delay
// and a bandwidth limit. Each direction is a link of its own: a chunk is sent on as soon as the
// link has carried the chunks before it (its size at the bandwidth) and half the round trip
// has passed since, so a reply of many chunks streams at the bandwidth and a command waits for
// the round trip.
#include <QtGlobal>
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace bench {

struct TLinkShape {
    int roundTripMs = 40;
    double megabitsPerSecond = 20;
};

class TLinkProxy {
public:
    // Relays every connection accepted on Port() to serverPort of 127.0.0.1.
    TLinkProxy(quint16 serverPort, TLinkShape shape);
    ~TLinkProxy();
    TLinkProxy(const TLinkProxy&) = delete;
    TLinkProxy& operator=(const TLinkProxy&) = delete;

    quint16 Port() const { return port_; }
    const TLinkShape& Shape() const { return shape_; }

private:
    // The two sockets of one relayed connection, closed when both directions are done.
    struct TConnection {
        int client = -1;
        int server = -1;
        ~TConnection();
    };

    void AcceptLoop();
    void Relay(int client);
    // Carries what arrives on from to to, at the link's pace, until from closes; then closes
    // the sending side of to.
    void Pump(std::shared_ptr<TConnection> connection, bool towardServer) const;

    quint16 serverPort_;
    TLinkShape shape_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex pumpsLock_;
    std::list<std::thread> pumps_;
};

} // namespace bench
