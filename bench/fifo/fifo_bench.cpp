// Line throughput of the receive path: 64 KiB blocks of 80-byte lines are appended to the
// FIFO and taken out line by line with Search + Remove, as the line reader does. The same work
// on a plain QByteArray buffer gives the baseline; the ratio is the FIFO's cost over it.
#include "net/qrfifobuffer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <cstdio>

namespace {

constexpr qsizetype kBlock = 65536;
constexpr qsizetype kLine = 80;

QByteArray MakeStream(qint64 totalBytes) {
    QByteArray line(kLine - 2, 'x');
    line += "\r\n";
    QByteArray stream;
    stream.reserve(totalBytes);
    while (stream.size() + kLine <= totalBytes) {
        stream += line;
    }
    return stream;
}

struct Figures {
    double seconds;
    qint64 lines;
};

Figures RunFifo(const QByteArray& stream, qint64 capacity, bool fillFirst) {
    TQRFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(capacity);
    char line[kLine * 2];
    qint64 lines = 0;
    QElapsedTimer timer;
    timer.start();
    auto drain = [&] {
        qint64 length;
        while ((length = fifo.Search("\n")) > 0) {
            fifo.Remove(line, length);
            ++lines;
        }
    };
    for (qsizetype offset = 0; offset < stream.size(); offset += kBlock) {
        fifo.Append(stream.constData() + offset, std::min(kBlock, stream.size() - offset));
        if (!fillFirst) {
            drain();
        }
    }
    // With everything appended first, all but the memory part sits in the overflow file and
    // comes back through the refill worker.
    while (fifo.Count() > 0) {
        drain();
        fifo.WaitForRefill();
    }
    return {timer.elapsed() / 1000.0, lines};
}

Figures RunPlainBuffer(const QByteArray& stream) {
    QByteArray buffer;
    qsizetype head = 0;
    qint64 lines = 0;
    QByteArray line;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype offset = 0; offset < stream.size(); offset += kBlock) {
        buffer.append(stream.constData() + offset, std::min(kBlock, stream.size() - offset));
        qsizetype end;
        while ((end = buffer.indexOf('\n', head)) >= 0) {
            line = buffer.mid(head, end + 1 - head);
            head = end + 1;
            ++lines;
        }
        buffer.remove(0, head);
        head = 0;
    }
    return {timer.elapsed() / 1000.0, lines};
}

void Report(const char* name, const Figures& figures, qint64 bytes, double baselineSeconds) {
    std::printf("%-44s %9.3f s %12.0f lines/s %8.1f MB/s  ratio %.2f\n", name, figures.seconds,
                figures.lines / figures.seconds, bytes / 1e6 / figures.seconds,
                figures.seconds / baselineSeconds);
}

} // namespace

int main() {
    const QByteArray memoryStream = MakeStream(200'000'000);
    const Figures plain = RunPlainBuffer(memoryStream);
    Report("plain QByteArray, 200 MB", plain, memoryStream.size(), plain.seconds);
    Report("FIFO in memory (64 MiB capacity), 200 MB",
           RunFifo(memoryStream, 64 << 20, false), memoryStream.size(), plain.seconds);

    const QByteArray diskStream = MakeStream(100'000'000);
    const Figures plainDisk = RunPlainBuffer(diskStream);
    Report("plain QByteArray, 100 MB", plainDisk, diskStream.size(), plainDisk.seconds);
    Report("FIFO, 100 MB through the overflow file", RunFifo(diskStream, 1 << 20, true),
           diskStream.size(), plainDisk.seconds);
    return 0;
}
