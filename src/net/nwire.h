#pragma once

#include "net/certtrust.h"
#include "net/qrfifobuffer.h"
#include "net/sockerr.h"
#include "util/exception.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QIODevice;
class QSslSocket;
class TDeflateStream;
class QEventLoop;
class QHostInfo;

// Socket and connection failures.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// An operation that ended because it was canceled or timed out.
class EAbortError : public Exception {
public:
    using Exception::Exception;
};

// Events are called only when assigned.
using TNotifyEvent = std::function<void(QObject* sender)>;
// The component sets handled to false before the call; the handler sets it true to ask for
// one more attempt (a connection made, a host corrected, credentials supplied).
using THandlerEvent = std::function<void(bool& handled)>;
using TOnStatus = std::function<void(QObject* sender, const QString& status)>;
using TOnHostResolved = std::function<void(QObject* sender)>;
using TOnErrorEvent =
    std::function<void(QObject* sender, quint16 errorNumber, const QString& message)>;

// How a connection is protected: not at all, TLS from its first byte (NNTPS, port 563), or TLS
// started by the protocol's STARTTLS command on a plain connection.
enum class TSecurity { None, Tls, StartTls };

// A timer that fires OnTimer every Interval milliseconds while Enabled, from the event loop
// of the thread that owns it.
class TThreadTimer : public QObject {
    Q_OBJECT
public:
    explicit TThreadTimer(QObject* parent = nullptr);

    quint32 Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void SetInterval(quint32 interval);
    void SetEnabled(bool enabled);
    void SetOnTimer(TNotifyEvent onTimer);

private:
    void UpdateTimer();

    quint32 interval_ = 1000;
    bool enabled_ = true;
    TNotifyEvent onTimer_;
    QTimer timer_;
};

// One TCP connection with blocking, line-oriented input and output. Every blocking operation
// waits in slices of at most 300 ms that process pending events, so the window stays alive and
// an Abort button works; notifications and the time-out timer talk to the waiting loop only
// through the flags Canceled, TimedOut, Connected, AsyncDone and EventSucceeded.
class TNetwire : public QObject {
    Q_OBJECT
public:
    explicit TNetwire(QObject* parent = nullptr);
    ~TNetwire() override;

    // Published properties.
    QString Host;
    int Port = 0;
    int TimeOut = 0;     // milliseconds per blocking operation; 0: no time-out
    int ReportLevel = 0; // status messages up to this level are reported
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;

    // Public members, published by descendants.
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    TOnErrorEvent OnError;
    QString Status;
    qint16 ReplyCode = 0;
    QByteArray LastReply;
    bool Connected = false;
    qint64 BytesSent = 0;
    qint64 BytesTotal = 0;
    qint64 BytesRecvd = 0;
    // The bytes that crossed the socket on this connection, counted from Connect on: once
    // compression has started, the compressed bytes (inside TLS, which the socket adds on its
    // own); before that, and on a connection never compressed, the bytes as sent and received.
    qint64 WireBytesRecvd = 0;
    qint64 WireBytesSent = 0;

    int GetLastErrorNo();
    void SetLastErrorNo(int errorNumber);
    // Encryption. With Security Tls, Connect makes the TLS handshake as soon as the connection
    // is open; StartTls is left to the protocol above, which calls StartEncryption when the
    // server has agreed. The server's certificate is verified against the system's CA store
    // and ExtraCaCertificates, its host name included. A certificate that fails is accepted
    // only when it is the one kept for the server in TrustedCertificates, or when the user,
    // asked through the presenter, accepts it; "always" adds it there.
    TSecurity Security = TSecurity::None;
    QList<QSslCertificate> ExtraCaCertificates;
    TCertificatePins TrustedCertificates;
    // Raised once the handshake is done.
    TNotifyEvent OnEncrypted;
    void StartEncryption();
    // "TLSv1.3, TLS_AES_256_GCM_SHA384": protocol and cipher; empty while not encrypted.
    QString EncryptionDescription() const;
    // True once a handshake has succeeded on the open connection.
    bool Encrypted() const;
    // Compression (RFC 8054): from the call on, every byte received is inflated before it is
    // buffered and every write is deflated and flushed, for the rest of the connection. The
    // protocol above calls it once the server has agreed; bytes already buffered after the
    // line that agreed are compressed data too. A new connection starts uncompressed.
    void StartCompression();
    bool Compressed() const;

    // The longest line a read takes, its line end included. A peer that sends more without a
    // line end speaks no line protocol, and the bytes would only pile up in memory and on disk.
    static constexpr qint64 kMaxLineLength = 8 * 1024 * 1024;

    qint64 GetFifoCapacity() const { return Fifo->Capacity(); }
    void SetFifoCapacity(qint64 capacity) { Fifo->SetMemoryBufferCapacity(capacity); }

    // Connection and line operations.
    virtual void Connect();
    virtual void Disconnect();
    virtual QByteArray Transaction(const QByteArray& command);
    virtual void Abort();
    void CertifyConnect();
    void Cancel();
    void Wait(int milliseconds);
    void Write(const QByteArray& text);
    void Writeln(const QByteArray& text);
    QByteArray ReadLn();
    // Reads lines as ReadLn does, but takes every whole line already received at once: each
    // line, with its line end, goes to takeLine as a view that is valid only during the call,
    // until takeLine returns true for the last line wanted. Lines after that one stay
    // buffered. Waits, times out, aborts and refuses a line too long as ReadLn does.
    void ReadLinesUntil(const std::function<bool(QByteArrayView line)>& takeLine);
    bool DataAvailable();
    void ClearInput();
    void ReadToBuffer();
    void RequestCloseSocket();
    void ResolveRemoteHost();
    void StatusMessage(quint8 level, const QString& text);
    QString ErrorManager(quint16 ignore);
    void SetWSAError(quint16 errorNumber, QString message);
    QString SocketErrorStr(quint16 errorNumber);
    QString GetRemoteIP();
    QString GetLocalIP();

    // Bulk transfer.
    void SendStream(QIODevice& stream);
    void SendRestStream(QIODevice& stream);
    void SendFile(const QString& fileName);
    QByteArray Read(quint16 count);
    void CaptureStream(QIODevice& stream, qint64 size);
    void CaptureFile(const QString& fileName);
    void AppendFile(const QString& fileName);
    void CaptureString(QByteArray& text, qint64 size);
    void FilterHeader(QIODevice& stream);
    void CloseAfterData();
    void CloseImmediate();
    QString GetLocalAddress();
    QString GetPortString();

protected:
    // Sends and receives move at most one block per call; waits re-test their conditions
    // after at most one slice.
    static constexpr int kBlock = 65536;
    static constexpr int kWaitSlice = 300;

    void TimerOn();
    void TimerOff();
    void TimerFired();
    void SendBuffer(const QByteArray& data);
    // Hands data to the socket and waits, without processing events, until it is sent.
    void PushToSocket(const QByteArray& data);
    void SignalWait();
    // A line longer than kMaxLineLength arrived: what follows it cannot be read in step, so the
    // connection is closed and the read raises "Reply line too long". A protocol above
    // raises its own error type.
    [[noreturn]] virtual void FailLineTooLong();
    // Received data did not inflate: nothing after it can be read in step, so the connection is closed and the read
    // raises reason. A protocol above raises its own error type.
    [[noreturn]] virtual void FailCompressedStream(const QString& reason);
    bool StreamFailed() const { return !streamFailure_.isEmpty(); }
    void RaiseIfStreamFailed();
    // Processes events in slices until done() holds or the operation is canceled; done() is
    // asked only while not canceled and may itself take in data or cancel.
    void WaitUntil(const std::function<bool()>& done);

    bool Canceled = false;
    bool Destroying = false;
    bool EventSucceeded = true;
    bool TimedOut = false;
    bool AsyncDone = false;
    quint32 RemoteAddress = 0; // IPv4 in host byte order; 0 while unresolved
    std::unique_ptr<TQRFifoBuffer> Fifo;
    TThreadTimer* Timer = nullptr;

private:
    enum class SendMode { WholeStream, RestOfStream, File };

    void InitWinsock();
    void AttachSocket();
    void ReleaseSocket();
    void OnSocketConnected();
    void OnSocketClosed();
    void OnSocketError(int qtSocketError);
    void OnLookupDone(int lookupId, const QHostInfo& info);
    void RecordSocketError();
    bool PeerClosed() const;
    void SendChunks(QIODevice& stream, SendMode mode);
    void WaitUntilFlushed(bool restartTimer);
    // Until some bytes are buffered or the peer has closed.
    void WaitUntilReceived();
    void SetLinger(bool on);
    // Waits until a whole line is buffered and returns its length with the line end; 0 when
    // the wait was canceled or timed out. A line that is or will be longer than
    // kMaxLineLength ends the wait at once, with FailLineTooLong.
    qint64 WaitForLine();
    // True when the line buffered first, lineEnd long (0: its end has not arrived), exceeds
    // kMaxLineLength or cannot end within it.
    bool LineTooLong(qint64 lineEnd) const;
    // Gives takeLine the whole lines held in memory, in place; true once it took the last.
    bool TakeHeldLines(const std::function<bool(QByteArrayView line)>& takeLine);
    void RaiseIfCanceled(const char* abortText);
    // Hands data to the socket, deflated when compression is on; counts the wire bytes.
    // Returns how many of data's bytes the socket took, or its negative error result.
    qint64 WriteToSocket(const QByteArray& data);
    // Inflates compressed bytes from the socket into the buffer; a failure is kept in
    // streamFailure_ for the reader, which raises it (a notification never raises).
    void InflateToBuffer(QByteArrayView compressed);
    void ReadCompressedToBuffer();
    // The connection's end ends compression. A server that goes away mid-stream is a connection
    // that ended, as on a plain connection, not a stream that broke: servers flush in ways that
    // leave the stream between blocks or not, and neither says whether a reply was whole.
    void EndCompression();
    void AwaitHandshake();
    // Decides, with the user if need be, on a certificate that failed verification.
    bool TrustDespite(const QList<QSslError>& errors);
    [[noreturn]] void FailHandshake();

    QSslSocket* socket_ = nullptr;
    int lastErrorNo_ = 0;
    int lookupId_ = -1;
    quint32 resolvedAddress_ = 0;
    bool waitSignalled_ = false;
    QPointer<QEventLoop> waitLoop_;
    // The handshake: the certificate errors it paused on, the text of the failure that ended it,
    // and the refusal of a certificate that nobody accepted.
    bool pausedOnCertificate_ = false;
    QList<QSslError> certificateErrors_;
    QString socketErrorText_;
    QString certificateRefusal_;
    std::unique_ptr<TDeflateStream> compression_;
    QString streamFailure_;
};

// Unit functions.
// The n-th word (from 1) of text split at delimiter; adjacent delimiters enclose an empty word.
QByteArray NthWord(const QByteArray& text, char delimiter, int n);
// 1-based position of the n-th delimiter; the text's length + 1 when there are fewer.
int NthPos(const QByteArray& text, char delimiter, int n);
// The reply code of a reply line: its leading decimal digits (at most ten), 0 when there are
// none; a value beyond 16 bits raises "Range check error".
qint16 ReplyCodeOf(const QByteArray& line);
// Writes text and CR LF.
void StreamLn(QIODevice& stream, const QByteArray& text);
