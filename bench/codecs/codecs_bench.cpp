// Encode and decode throughput of the codecs over 64 MiB held in memory streams, so that the
// figures are the codecs' own cost and not a disk's; Qt's own Base64 on the same data is the
// yardstick. Rates are of the plain (decoded) bytes.
#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruue.h"
#include "codec/qruuencode.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <functional>

namespace {

using StreamCodec = std::function<void(QIODevice&, QIODevice&)>;

constexpr qsizetype kDataSize = 64 * 1024 * 1024;

QByteArray RandomBytes() {
    QRandomGenerator random(42);
    QByteArray bytes(kDataSize, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(random.bounded(256));
    }
    return bytes;
}

// Article-like text: words and line ends, the input quoted-printable is made for.
QByteArray PlainText() {
    const QByteArray line = "The quick brown fox jumps over the lazy dog; caf\xe9 cr\xe8me.\r\n";
    QByteArray text;
    text.reserve(kDataSize);
    while (text.size() + line.size() <= kDataSize) {
        text += line;
    }
    return text;
}

QByteArray Run(const StreamCodec& codec, const QByteArray& input, double& seconds) {
    QBuffer source;
    source.setData(input);
    source.open(QIODevice::ReadOnly);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    QElapsedTimer timer;
    timer.start();
    codec(source, destination);
    seconds = timer.nsecsElapsed() / 1e9;
    return destination.data();
}

double Rate(qsizetype plainBytes, double seconds) {
    return plainBytes / 1e6 / seconds;
}

void Report(const char* name, const StreamCodec& encode, const StreamCodec& decode,
            const QByteArray& plain, double qtEncodeRate = 0, double qtDecodeRate = 0) {
    double encodeSeconds = 0;
    double decodeSeconds = 0;
    const QByteArray encoded = Run(encode, plain, encodeSeconds);
    const QByteArray decoded = Run(decode, encoded, decodeSeconds);
    const double encodeRate = Rate(plain.size(), encodeSeconds);
    const double decodeRate = Rate(plain.size(), decodeSeconds);
    std::printf("%-28s encode %8.1f MB/s   decode %8.1f MB/s   %s", name, encodeRate, decodeRate,
                decoded == plain ? "round trip ok" : "ROUND TRIP FAILED");
    if (qtEncodeRate > 0) {
        std::printf("   Qt/ours: encode %.2f, decode %.2f", qtEncodeRate / encodeRate,
                    qtDecodeRate / decodeRate);
    }
    std::printf("\n");
}

} // namespace

int main() {
    const QByteArray random = RandomBytes();

    QElapsedTimer timer;
    timer.start();
    const QByteArray qtEncoded = random.toBase64();
    const double qtEncodeRate = Rate(random.size(), timer.nsecsElapsed() / 1e9);
    timer.restart();
    const QByteArray qtDecoded = QByteArray::fromBase64(qtEncoded);
    const double qtDecodeRate = Rate(random.size(), timer.nsecsElapsed() / 1e9);
    std::printf("%-28s encode %8.1f MB/s   decode %8.1f MB/s   %s\n", "Qt toBase64/fromBase64",
                qtEncodeRate, qtDecodeRate, qtDecoded == random ? "round trip ok" : "FAILED");

    Report("uuencode, random 64 MiB", UUEEncode, UUEDecode, random);
    Report("Base64, random 64 MiB", B64Encode, B64Decode, random, qtEncodeRate, qtDecodeRate);
    Report("quoted-printable, random", TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode, random);
    Report("quoted-printable, text", TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode,
           PlainText());
    return 0;
}
