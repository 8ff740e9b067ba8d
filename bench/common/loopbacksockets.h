#pragma once

// The plain-socket pieces the benchmarks' servers share: a listener on an ephemeral port of
// 127.0.0.1, a whole send, a wait that looks at a stop flag. A failure to set up ends the
// benchmark, as there is nothing to measure without it.
#include <QByteArrayView>
#include <QtGlobal>
#include <atomic>

namespace bench {

// How often a waiting thread looks at its stop flag.
inline constexpr int kPollMs = 100;

[[noreturn]] void Fail(const char* what);
// A listening socket on 127.0.0.1 and the port it got.
int ListenOnLoopback(quint16& port, const char* who);
// Connects to port of 127.0.0.1; -1 when nothing listens there.
int ConnectToLoopback(quint16 port);
// Sends bytes whole; false once the peer is gone.
bool SendAll(int socket, QByteArrayView bytes);
// Waits for the socket to be readable; false once stopping is set or the wait fails.
bool WaitReadable(int socket, const std::atomic<bool>& stopping);

} // namespace bench
