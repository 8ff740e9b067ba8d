// The inflater of a compressed connection, which takes whatever bytes a server sends: it gives
// plain bytes in bounded pieces or raises its own error, and what is deflated inflates back.
#include "fuzzsupport.h"
#include "net/deflatestream.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    TDeflateStream received;
    try {
        received.Inflate(bytes, [](QByteArrayView piece) {
            fuzz::Require(!piece.isEmpty() && piece.size() <= TDeflateStream::kPiece,
                          "inflated bytes arrive in bounded pieces");
        });
    } catch (const EDeflateError&) {
        // A stream that breaks is told; that is all.
    }
    TDeflateStream sender;
    TDeflateStream receiver;
    fuzz::Require(receiver.Inflate(sender.Deflate(bytes)) == bytes,
                  "what is deflated inflates to the same bytes");
    return 0;
}
