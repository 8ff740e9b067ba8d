// Encode and decode throughput of the codecs over random bytes held in memory streams, so that
// the figures are the codecs' own cost and not a disk's. The yardsticks run on the same data in
// the same run: Qt's own Base64, and coreutils `base64` (encode and -d) as a process reading a
// file and writing to /dev/null. Rates are of the plain (decoded) bytes, by the CPU time spent
// (this process's thread for ours, the child's user + system time for coreutils) and by the
// clock; on a shared machine the CPU figures are the ones to compare.
//
//   bench_codecs [MiB]     (default 64)
#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruue.h"
#include "codec/qruuencode.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>

namespace {

using StreamCodec = std::function<void(QIODevice&, QIODevice&)>;

struct Timing {
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Times one call on this thread.
template <typename Call> Timing Time(Call&& call) {
    QElapsedTimer clock;
    const double cpuBefore = ThreadCpuSeconds();
    clock.start();
    call();
    return {ThreadCpuSeconds() - cpuBefore, static_cast<double>(clock.nsecsElapsed()) / 1e9};
}

QByteArray RandomBytes(qsizetype size) {
    QRandomGenerator random(42);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(random.bounded(256));
    }
    return bytes;
}

// Article-like text: words and line ends, the input quoted-printable is made for.
QByteArray PlainText(qsizetype size) {
    const QByteArray line = "The quick brown fox jumps over the lazy dog; caf\xe9 cr\xe8me.\r\n";
    QByteArray text;
    text.reserve(size);
    while (text.size() + line.size() <= size) {
        text += line;
    }
    return text;
}

// A destination whose memory is already there, so that growing it is not timed.
QByteArray Room(qsizetype size) {
    QByteArray room(size, '\0');
    room.resize(0);
    return room;
}

QByteArray Run(const StreamCodec& codec, const QByteArray& input, qsizetype outputRoom,
               Timing& timing) {
    QBuffer source;
    source.setData(input);
    source.open(QIODevice::ReadOnly);
    QByteArray output = Room(outputRoom);
    QBuffer destination(&output);
    destination.open(QIODevice::ReadWrite);
    timing = Time([&] { codec(source, destination); });
    destination.close();
    return output;
}

double Rate(qsizetype plainBytes, double seconds) {
    return static_cast<double>(plainBytes) / 1e6 / seconds;
}

void PrintRates(const char* name, qsizetype plainBytes, const Timing& encode,
                const Timing& decode, const char* verdict) {
    std::printf("%-30s encode %7.1f MB/s cpu %7.1f MB/s clock   decode %7.1f MB/s cpu %7.1f "
                "MB/s clock   %s\n",
                name, Rate(plainBytes, encode.cpuSeconds), Rate(plainBytes, encode.wallSeconds),
                Rate(plainBytes, decode.cpuSeconds), Rate(plainBytes, decode.wallSeconds),
                verdict);
}

void Report(const char* name, const StreamCodec& encode, const StreamCodec& decode,
            const QByteArray& plain, Timing* encodeTiming = nullptr,
            Timing* decodeTiming = nullptr) {
    Timing encodeTime;
    Timing decodeTime;
    const QByteArray encoded = Run(encode, plain, plain.size() * 4, encodeTime);
    const QByteArray decoded = Run(decode, encoded, plain.size() + 1, decodeTime);
    PrintRates(name, plain.size(), encodeTime, decodeTime,
               decoded == plain ? "round trip ok" : "ROUND TRIP FAILED");
    if (encodeTiming != nullptr) {
        *encodeTiming = encodeTime;
        *decodeTiming = decodeTime;
    }
}

// Runs coreutils base64 with the given arguments on a file, output to /dev/null.
Timing Coreutils(const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double cpuBefore = ChildrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral("base64"), arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "base64 %s failed\n", qPrintable(arguments.join(u' ')));
        std::exit(1);
    }
    return {ChildrenCpuSeconds() - cpuBefore, static_cast<double>(clock.nsecsElapsed()) / 1e9};
}

bool WriteFile(QTemporaryFile& file, const QByteArray& bytes) {
    return file.open() && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qsizetype mebibytes = app.arguments().value(1, QStringLiteral("64")).toLongLong();
    const qsizetype size = mebibytes * 1024 * 1024;
    const QByteArray random = RandomBytes(size);
    const QByteArray sizeName = QByteArray::number(mebibytes) + " MiB";

    QByteArray qtEncoded;
    QByteArray qtDecoded;
    const Timing qtEncode = Time([&] { qtEncoded = random.toBase64(); });
    const Timing qtDecode = Time([&] { qtDecoded = QByteArray::fromBase64(qtEncoded); });
    PrintRates("Qt toBase64/fromBase64", size, qtEncode, qtDecode,
               qtDecoded == random ? "round trip ok" : "FAILED");

    QTemporaryFile plainFile;
    QTemporaryFile textFile;
    if (!WriteFile(plainFile, random) || !WriteFile(textFile, random.toBase64())) {
        std::fprintf(stderr, "cannot write the data for coreutils base64\n");
        return 1;
    }
    const Timing coreEncode = Coreutils({plainFile.fileName()});
    const Timing coreDecode = Coreutils({QStringLiteral("-d"), textFile.fileName()});
    PrintRates("coreutils base64 (process)", size, coreEncode, coreDecode, "");

    Timing ourEncode;
    Timing ourDecode;
    Report(("Base64, random " + sizeName).constData(), B64Encode, B64Decode, random, &ourEncode,
           &ourDecode);
    std::printf("base64 coreutils/ours cpu: encode %.2f, decode %.2f\n",
                coreEncode.cpuSeconds / ourEncode.cpuSeconds,
                coreDecode.cpuSeconds / ourDecode.cpuSeconds);
    Report(("uuencode, random " + sizeName).constData(), UUEEncode, UUEDecode, random);
    Report(("quoted-printable, random " + sizeName).constData(), TQRUUProcessor::QPEncode,
           TQRUUProcessor::QPDecode, random);
    Report("quoted-printable, text", TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode,
           PlainText(size));
    return 0;
}
