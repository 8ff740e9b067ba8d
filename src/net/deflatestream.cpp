#include "net/deflatestream.h"

#include <algorithm>
#include <array>
#include <limits>
#include <zlib.h>

namespace {

// Raw deflate: a negative window size tells zlib to write and expect no zlib header or trailer.
constexpr int kRawDeflateWindowBits = -15;
constexpr int kDefaultMemoryLevel = 8;
// zlib counts in uInt; longer input is handed over in slices of this size.
constexpr qsizetype kMostPerCall = std::numeric_limits<uInt>::max() / 2;

Bytef* InputBytes(QByteArrayView data) {
    // zlib's next_in is not const but is only read.
    return reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
}

} // namespace

struct TDeflateStream::Streams {
    z_stream deflate{};
    z_stream inflate{};
};

TDeflateStream::TDeflateStream() : streams_(std::make_unique<Streams>()) {
    if (deflateInit2(&streams_->deflate, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflateWindowBits,
                     kDefaultMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw Exception(QStringLiteral("Compression cannot start: zlib's deflate failed"));
    }
    if (inflateInit2(&streams_->inflate, kRawDeflateWindowBits) != Z_OK) {
        deflateEnd(&streams_->deflate);
        throw Exception(QStringLiteral("Compression cannot start: zlib's inflate failed"));
    }
}

TDeflateStream::~TDeflateStream() {
    deflateEnd(&streams_->deflate);
    inflateEnd(&streams_->inflate);
}

QByteArray TDeflateStream::Deflate(QByteArrayView data) {
    z_stream& stream = streams_->deflate;
    QByteArray compressed;
    std::array<char, kPiece> out;
    do {
        const QByteArrayView slice = data.first(std::min(data.size(), kMostPerCall));
        data = data.sliced(slice.size());
        stream.next_in = InputBytes(slice);
        stream.avail_in = static_cast<uInt>(slice.size());
        // Z_SYNC_FLUSH is done once a call leaves room in the output.
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, Z_SYNC_FLUSH);
            compressed.append(out.data(), static_cast<qsizetype>(out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (!data.isEmpty());
    return compressed;
}

void TDeflateStream::Inflate(QByteArrayView data,
                             const std::function<void(QByteArrayView plain)>& take) {
    if (!inflateFailure_.isEmpty()) {
        throw EDeflateError(inflateFailure_);
    }
    if (inflateEnded_ && !data.isEmpty()) {
        FailInflate(QStringLiteral("data after the end of the compressed stream"));
    }
    z_stream& stream = streams_->inflate;
    std::array<char, kPiece> out;
    while (!data.isEmpty()) {
        const QByteArrayView slice = data.first(std::min(data.size(), kMostPerCall));
        data = data.sliced(slice.size());
        stream.next_in = InputBytes(slice);
        stream.avail_in = static_cast<uInt>(slice.size());
        for (;;) {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int result = inflate(&stream, Z_SYNC_FLUSH);
            const qsizetype produced = static_cast<qsizetype>(out.size() - stream.avail_out);
            if (produced > 0) {
                take(QByteArrayView(out.data(), produced));
            }
            if (result == Z_STREAM_END) {
                inflateEnded_ = true;
                if (stream.avail_in > 0 || !data.isEmpty()) {
                    FailInflate(QStringLiteral("data after the end of the compressed stream"));
                }
                return;
            }
            if (result != Z_OK && result != Z_BUF_ERROR) {
                FailInflate(QString::fromLatin1(stream.msg != nullptr ? stream.msg
                                                                      : "not deflate data"));
            }
            // Z_BUF_ERROR: no progress is possible until more input comes.
            if (result == Z_BUF_ERROR || (stream.avail_in == 0 && stream.avail_out > 0)) {
                break;
            }
        }
    }
}

QByteArray TDeflateStream::Inflate(QByteArrayView data) {
    QByteArray plain;
    Inflate(data, [&plain](QByteArrayView piece) { plain.append(piece); });
    return plain;
}

void TDeflateStream::FailInflate(const QString& reason) {
    inflateFailure_ = QStringLiteral("Compressed data from the server does not inflate: ") + reason;
    throw EDeflateError(inflateFailure_);
}
