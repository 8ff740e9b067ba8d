// Throughput of every codec over 4 MiB of random bytes held in memory streams, so that the
// figures are the codecs' own cost and not a disk's.
#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruue.h"
#include "codec/qruuencode.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <functional>

namespace {

using StreamCodec = std::function<void(QIODevice&, QIODevice&)>;

constexpr qsizetype kDataSize = 4 * 1024 * 1024;

QByteArray RandomBytes() {
    QRandomGenerator random(42);
    QByteArray bytes(kDataSize, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(random.bounded(256));
    }
    return bytes;
}

QByteArray Run(const StreamCodec& codec, const QByteArray& input) {
    QBuffer source;
    source.setData(input);
    source.open(QIODevice::ReadOnly);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    codec(source, destination);
    return destination.data();
}

// Measures one direction; the figure is the rate of the plain (decoded) bytes.
void Measure(benchmark::State& state, const StreamCodec& encode, const StreamCodec& decode,
             bool decoding) {
    const QByteArray plain = RandomBytes();
    const QByteArray input = decoding ? Run(encode, plain) : plain;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Run(decoding ? decode : encode, input));
    }
    state.SetBytesProcessed(state.iterations() * kDataSize);
}

} // namespace

BENCHMARK_CAPTURE(Measure, UUEEncode, UUEEncode, UUEDecode, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Measure, UUEDecode, UUEEncode, UUEDecode, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Measure, B64Encode, B64Encode, B64Decode, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Measure, B64Decode, B64Encode, B64Decode, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Measure, QPEncode, TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Measure, QPDecode, TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode, true)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
