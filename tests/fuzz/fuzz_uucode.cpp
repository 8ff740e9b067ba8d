// The uuencode data-line decoder, and uuencoding followed by decoding.
#include "codec/qruudecode.h"
#include "codec/qruuencode.h"
#include "codecsupport.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    fuzz::DecodeUntrusted(bytes, UUEDecode);
    fuzz::CheckRoundTrip(bytes, UUEEncode, UUEDecode, "uudecode(uuencode(x)) == x");
    return 0;
}
