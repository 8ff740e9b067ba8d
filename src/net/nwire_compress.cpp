// Compression of the connection (RFC 8054): the deflate streams between the socket and the
// line buffer, and what happens when the server's stream breaks.
#include "net/deflatestream.h"
#include "net/nwire.h"
#include "net/protocollog.h"

#include <QSslSocket>

void TNetwire::StartCompression() {
    StatusMessage(8, QStringLiteral("Starting compression"));
    compression_ = std::make_unique<TDeflateStream>();
    streamFailure_.clear();
    protocollog::Note("compression (DEFLATE) starts");
    // The server compresses from the first byte after the line that agreed: whatever is
    // buffered behind that line came compressed.
    const QByteArray early = Fifo->Remove(Fifo->Count());
    InflateToBuffer(early);
    ReadToBuffer();
    StatusMessage(1, QStringLiteral("Compressed: DEFLATE"));
}

bool TNetwire::Compressed() const {
    return compression_ != nullptr;
}

qint64 TNetwire::WriteToSocket(const QByteArray& data) {
    const QByteArray onWire = compression_ ? compression_->Deflate(data) : data;
    const qint64 written = socket_->write(onWire);
    if (written <= 0) {
        return written;
    }
    WireBytesSent += written;
    // The socket buffers the whole write or refuses it: the deflated bytes stand for all of data.
    return compression_ ? data.size() : written;
}

void TNetwire::InflateToBuffer(QByteArrayView compressed) {
    if (StreamFailed()) {
        return; // nothing after the break can be read in step
    }
    try {
        compression_->Inflate(compressed, [this](QByteArrayView plain) {
            Fifo->Append(plain.data(), plain.size());
        });
    } catch (const EDeflateError& error) {
        streamFailure_ = error.Message();
        protocollog::Note("compression failed: " + streamFailure_.toLatin1());
    }
}

void TNetwire::ReadCompressedToBuffer() {
    QByteArray compressed;
    do {
        compressed = socket_->read(kBlock);
        WireBytesRecvd += compressed.size();
        InflateToBuffer(compressed);
        SignalWait();
    } while (compressed.size() == kBlock);
}

void TNetwire::RaiseIfStreamFailed() {
    if (StreamFailed()) {
        FailCompressedStream(streamFailure_);
    }
}

void TNetwire::FailCompressedStream(const QString& reason) {
    TNetwire::Disconnect();
    throw ESockError(reason);
}

void TNetwire::EndCompression() {
    compression_.reset();
}
