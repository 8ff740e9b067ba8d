#pragma once

// What the benchmarks that list a large group share: the wire's own limit, measured by a raw
// socket that sends XOVER for a whole group and only reads the reply up to its "." line, and
// the process's peak memory.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTcpSocket>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace bench {

struct Figures {
    double seconds = 0;
    // CPU time of the reading thread: on a shared machine steadier than the clock.
    double cpuSeconds = 0;
    qint64 summaries = 0;
    qint64 bytes = 0;
};

// CPU time this thread has used so far, in seconds.
inline double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Peak resident memory of this process so far, in MiB.
inline double PeakMemoryMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}

inline QByteArray ReadLine(QTcpSocket& socket) {
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(30000)) {
            std::fprintf(stderr, "raw client: %s\n", qPrintable(socket.errorString()));
            std::exit(1);
        }
    }
    return socket.readLine();
}

// Connects, reads the greeting and selects the group; the words of the GROUP reply
// ("211", count, first, last, name).
inline QList<QByteArray> OpenGroup(QTcpSocket& socket, const QString& host, quint16 port,
                                   const QByteArray& group) {
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(10000)) {
        std::fprintf(stderr, "cannot reach %s:%u: %s\n", qPrintable(host), port,
                     qPrintable(socket.errorString()));
        std::exit(1);
    }
    ReadLine(socket);
    socket.write("GROUP " + group + "\r\n");
    return ReadLine(socket).split(' ');
}

inline Figures RawXover(const QString& host, quint16 port, const QByteArray& group) {
    QTcpSocket socket;
    const QList<QByteArray> words = OpenGroup(socket, host, port, group);
    Figures figures;
    QElapsedTimer timer;
    const double cpuStart = ThreadCpuSeconds();
    timer.start();
    socket.write("XOVER " + words.value(2) + '-' + words.value(3) + "\r\n");
    ReadLine(socket);
    for (;;) {
        const QByteArray line = ReadLine(socket);
        if (line == ".\r\n") {
            break;
        }
        figures.bytes += line.size();
        ++figures.summaries;
    }
    figures.seconds = timer.nsecsElapsed() / 1e9;
    figures.cpuSeconds = ThreadCpuSeconds() - cpuStart;
    socket.write("QUIT\r\n");
    socket.waitForBytesWritten(1000);
    return figures;
}

} // namespace bench
