// Decode throughput of the yEnc block decoder over 64 MiB of random bytes, encoded with lines
// of 128 characters as posting programs write them. The lines are split beforehand, as the
// news client hands them over; the CRC32 check is timed on its own. Rates are of the decoded
// bytes.
#include "codec/yencdecode.h"
#include "testhelpers.h"
#include "yencencode.h"

#include <QElapsedTimer>
#include <QList>
#include <cstdio>
#include <ctime>

namespace {

constexpr qsizetype kDataSize = 64 * 1024 * 1024;
constexpr int kLineLength = 128;

QList<QByteArrayView> Lines(const QByteArray& text) {
    QList<QByteArrayView> lines;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype end = text.indexOf("\r\n", start);
        lines.append(QByteArrayView(text).sliced(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Wall time and this process's CPU time: on a machine shared with other work the second says
// what the code costs.
struct TTimes {
    double wall;
    double cpu;
};

template <typename Work> TTimes Time(Work work) {
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    work();
    return {timer.nsecsElapsed() / 1e9, double(std::clock() - cpuStart) / CLOCKS_PER_SEC};
}

void Report(const char* name, const TTimes& times) {
    std::printf("%-30s %8.1f MB/s   %8.1f MB/s of CPU time\n", name, kDataSize / 1e6 / times.wall,
                kDataSize / 1e6 / times.cpu);
}

} // namespace

int main() {
    const QByteArray data = RandomBytes(kDataSize, 42);
    const QByteArray encoded = YEncDataLines(data, kLineLength);
    const QList<QByteArrayView> lines = Lines(encoded);

    TYEncDecoder block("=ybegin line=128 size=67108864 name=bench.bin");
    const TTimes decode = Time([&] {
        for (const QByteArrayView line : lines) {
            block.AddLine(line);
        }
        block.AddLine("=yend size=67108864");
    });
    quint32 crc = 0;
    const TTimes check = Time([&] { crc = block.Crc(); });
    Report("yEnc decode, random 64 MiB", decode);
    Report("CRC32 of the decoded bytes", check);
    std::printf("%zu lines of %d, %.1f %% larger than the data; %s (crc %08x)\n",
                static_cast<size_t>(lines.size()), kLineLength,
                100.0 * (encoded.size() - data.size()) / data.size(),
                block.Data() == data ? "round trip ok" : "ROUND TRIP FAILED", crc);
    return 0;
}
