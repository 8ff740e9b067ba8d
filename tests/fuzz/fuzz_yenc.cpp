// The yEnc block decoder over any lines, and yEnc encoding followed by decoding.
#include "codec/yencdecode.h"
#include "fuzzsupport.h"
#include "yencencode.h"

namespace {

TYEncDecoder DecodeLines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    TYEncDecoder block(lines[0]);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].endsWith('\r')) {
            lines[i].chop(1);
        }
        block.AddLine(lines[i]);
    }
    return block;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    const TYEncDecoder untrusted = DecodeLines(bytes);
    fuzz::Require(untrusted.Data().size() <= bytes.size(), "decoding never adds bytes");
    (void)untrusted.DeclaredSize();
    (void)untrusted.DeclaredCrc();

    const int lineLength = bytes.isEmpty() ? 128 : 1 + static_cast<uchar>(bytes[0]);
    const TYEncDecoder block = DecodeLines(YEncBlock(bytes, "f.bin", lineLength));
    fuzz::Require(block.Ended() && block.Data() == bytes, "yenc-decode(yenc-encode(x)) == x");
    fuzz::Require(block.DeclaredCrc() == block.Crc(), "the CRC32 of the data matches");
    fuzz::Require(block.DeclaredSize() == bytes.size(), "the size of the data matches");
    return 0;
}
