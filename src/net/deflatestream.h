#pragma once

#include "util/exception.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

// Received bytes that do not inflate: a corrupt stream, or bytes after its last block.
class EDeflateError : public Exception {
public:
    using Exception::Exception;
};

// The two compressed streams of one connection (RFC 8054, NNTP COMPRESS DEFLATE): raw deflate
// (RFC 1951, no zlib header), one stream each way for the whole rest of the connection.
// Deflate flushes what it is given (Z_SYNC_FLUSH), so every write reaches the peer whole and
// at once; Inflate takes the peer's bytes in whatever pieces they arrive and gives what they
// complete. Pure bytes in, bytes out: no socket, no Qt event.
class TDeflateStream {
public:
    TDeflateStream();
    ~TDeflateStream();
    TDeflateStream(const TDeflateStream&) = delete;
    TDeflateStream& operator=(const TDeflateStream&) = delete;

    // The compressed form of data, flushed to a byte boundary.
    QByteArray Deflate(QByteArrayView data);

    // The plain bytes that data completes, handed to take in pieces of at most kPiece bytes
    // (a few compressed bytes can stand for megabytes, which never pile up here). Raises
    // EDeflateError, with zlib's reason, on data that is no deflate stream; once it has, every
    // later call raises it again. Bytes after the stream's final block are an error too.
    void Inflate(QByteArrayView data, const std::function<void(QByteArrayView plain)>& take);
    QByteArray Inflate(QByteArrayView data);

    static constexpr qsizetype kPiece = 65536;

private:
    [[noreturn]] void FailInflate(const QString& reason);

    struct Streams;
    std::unique_ptr<Streams> streams_;
    QString inflateFailure_;
    bool inflateEnded_ = false;
};
