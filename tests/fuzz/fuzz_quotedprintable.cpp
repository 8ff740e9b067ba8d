// The quoted-printable decoder of the codec processor, and encoding followed by decoding.
#include "codec/qruue.h"
#include "codecsupport.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    fuzz::DecodeUntrusted(bytes, TQRUUProcessor::QPDecode);
    fuzz::CheckRoundTrip(bytes, TQRUUProcessor::QPEncode, TQRUUProcessor::QPDecode,
                         "qpdecode(qpencode(x)) == x");
    return 0;
}
