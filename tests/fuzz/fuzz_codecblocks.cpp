// The uuencode and Base64 codecs where their reading crosses a block: the decoders read lines
// from blocks of TLineReader::kBlockSize bytes and the encoders read through a window of
// TQRFileBuffer::kWindowSize bytes, sizes that a fuzzer's inputs never reach alone. Data in
// front of the input puts the block's or the window's end at the place in the input that
// its first byte chooses. Each run handles some 64 KiB, which is why this target is apart from
// the codecs' own.
#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codecsupport.h"

#include <optional>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

namespace {

qsizetype Shift(const QByteArray& input) {
    return input.isEmpty() ? 0 : static_cast<uchar>(input[0]);
}

// What decode makes of input, or nothing when it refuses the input.
template <typename Decode>
std::optional<QByteArray> DecodedOrRefused(const QByteArray& input, Decode decode) {
    try {
        return Convert(decode, input);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

// A long first line, which the decoder reads as decodedLine, in front of the input changes
// nothing in what the decoder makes of the input.
template <typename Decode>
void CheckAcrossBlockEnd(const QByteArray& input, Decode decode, char filler,
                         QByteArray (*decodedLine)(qsizetype length), const char* codec) {
    const qsizetype length = TLineReader::kBlockSize - 2 - Shift(input);
    const QByteArray line = QByteArray(length, filler) + '\n';
    const std::optional<QByteArray> alone = DecodedOrRefused(input, decode);
    const std::optional<QByteArray> behind = DecodedOrRefused(line + input, decode);
    if (alone.has_value() != behind.has_value() ||
        (alone && *behind != decodedLine(length) + *alone)) {
        fuzz::Fail(codec);
    }
}

// A line of backquotes announces 0 bytes.
QByteArray NothingDecoded(qsizetype) {
    return QByteArray();
}

// A line of L letters "A" holds (L * 3) div 4 zero bytes: whole groups, then a short group
// that yields one byte per character after the first.
QByteArray ZeroBytes(qsizetype length) {
    return QByteArray(length * 3 / 4, '\0');
}

// Bytes in front of the input put the encoder's window end into it, and the round trip still
// gives back everything.
template <typename Encode, typename Decode>
void CheckRoundTripAcrossWindow(const QByteArray& input, Encode encode, Decode decode,
                                const char* codec) {
    const QByteArray front(TQRFileBuffer::kWindowSize - 1 - Shift(input), 'x');
    fuzz::CheckRoundTrip(front + input, encode, decode, codec);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    CheckAcrossBlockEnd(bytes, UUEDecode, '`', NothingDecoded,
                        "uudecode reads across a block's end");
    CheckAcrossBlockEnd(bytes, B64Decode, 'A', ZeroBytes, "b64decode reads across a block's end");
    CheckRoundTripAcrossWindow(bytes, UUEEncode, UUEDecode,
                               "uu round trip across the window's end");
    CheckRoundTripAcrossWindow(bytes, B64Encode, B64Decode,
                               "b64 round trip across the window's end");
    return 0;
}
