// The Base64 decoder, and Base64 encoding followed by decoding.
#include "codec/qr64decode.h"
#include "codec/qr64encode.h"
#include "codecsupport.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    fuzz::DecodeUntrusted(bytes, B64Decode);
    fuzz::CheckRoundTrip(bytes, B64Encode, B64Decode, "b64decode(b64encode(x)) == x");
    return 0;
}
