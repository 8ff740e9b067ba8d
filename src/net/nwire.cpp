#include "net/nwire.h"

#include "net/deflatestream.h"
#include "net/protocollog.h"
#include "util/finally.h"

#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QSslSocket>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QString Text(const char* text) {
    return QString::fromLatin1(text);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TThreadTimer

TThreadTimer::TThreadTimer(QObject* parent) : QObject(parent) {
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (onTimer_) {
            onTimer_(this);
        }
    });
}

void TThreadTimer::SetInterval(quint32 interval) {
    if (interval != interval_) {
        interval_ = interval;
        UpdateTimer();
    }
}

void TThreadTimer::SetEnabled(bool enabled) {
    if (enabled != enabled_) {
        enabled_ = enabled;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent onTimer) {
    onTimer_ = std::move(onTimer);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    timer_.stop();
    if (interval_ != 0 && enabled_ && onTimer_) {
        if (QAbstractEventDispatcher::instance() == nullptr) {
            throw Exception(QStringLiteral("No Timer"));
        }
        timer_.start(static_cast<int>(interval_));
    }
}

// ---------------------------------------------------------------------------------------------
// Construction, notifications

TNetwire::TNetwire(QObject* parent) : QObject(parent) {
    StatusMessage(8, QStringLiteral("Create"));
    Fifo = std::make_unique<TQRFifoBuffer>();
    Timer = new TThreadTimer(this);
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](QObject*) { TimerFired(); });
    InitWinsock();
}

TNetwire::~TNetwire() {
    // No handler is called from here on: the objects they reach may be gone already.
    Destroying = true;
    StatusMessage(8, QStringLiteral("Destroy"));
    TNetwire::Abort();
    Cancel();
    RequestCloseSocket();
    ReleaseSocket();
}

void TNetwire::InitWinsock() {
    StatusMessage(8, QStringLiteral("Initializing Winsock"));
    try {
        socket_ = new QSslSocket(this);
        AttachSocket();
    } catch (const std::exception&) {
        throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
    }
}

void TNetwire::AttachSocket() {
    connect(socket_, &QIODevice::readyRead, this, [this] {
        try {
            ReadToBuffer();
        } catch (const std::exception&) {
            // A notification never lets an exception out; the reader sees the flags.
        }
    });
    connect(socket_, &QAbstractSocket::connected, this, &TNetwire::OnSocketConnected);
    connect(socket_, &QAbstractSocket::disconnected, this, &TNetwire::OnSocketClosed);
    connect(socket_, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { OnSocketError(error); });
    connect(socket_, &QIODevice::bytesWritten, this, [this] { SignalWait(); });
    connect(socket_, &QSslSocket::encrypted, this, [this] { SignalWait(); });
    // The socket pauses on these; the handshake's waiting loop decides and resumes it.
    connect(socket_, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        certificateErrors_ = errors;
        pausedOnCertificate_ = true;
        SignalWait();
    });
}

void TNetwire::ReleaseSocket() {
    if (socket_ == nullptr) {
        return;
    }
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
}

void TNetwire::OnSocketConnected() {
    EventSucceeded = true;
    Connected = true;
    SignalWait();
    if (OnConnect && !Destroying) {
        OnConnect(this);
    }
}

void TNetwire::OnSocketClosed() {
    EventSucceeded = true;
    try {
        ReadToBuffer();
        if (Connected) {
            Connected = false;
            RequestCloseSocket();
        }
    } catch (const std::exception&) {
        // Swallowed: the close is what matters here.
    }
    SignalWait();
    if (OnDisconnect && !Destroying) {
        OnDisconnect(this);
    }
}

void TNetwire::OnSocketError(int qtSocketError) {
    const quint16 number = sockerr::FromQt(qtSocketError);
    EventSucceeded = number == 0;
    if (number != 0) {
        lastErrorNo_ = number;
    }
    socketErrorText_ = socket_->errorString();
    SignalWait();
}

void TNetwire::RecordSocketError() {
    lastErrorNo_ = socket_ != nullptr && socket_->state() == QAbstractSocket::ConnectedState
                       ? sockerr::FromQt(socket_->error())
                       : sockerr::kNotConnected;
}

bool TNetwire::PeerClosed() const {
    return !Connected;
}

// ---------------------------------------------------------------------------------------------
// Waiting and the time-out timer

void TNetwire::SignalWait() {
    waitSignalled_ = true;
    if (waitLoop_) {
        waitLoop_->quit();
    }
}

void TNetwire::Wait(int milliseconds) {
    if (!waitSignalled_) {
        // A loop of its own per wait: a handler that runs inside it may wait again, nested.
        QEventLoop loop;
        QPointer<QEventLoop> outer = waitLoop_;
        waitLoop_ = &loop;
        QTimer slice;
        slice.setSingleShot(true);
        connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (milliseconds >= 0) {
            slice.start(milliseconds);
        }
        loop.exec();
        waitLoop_ = outer;
    } else {
        QCoreApplication::processEvents();
    }
    waitSignalled_ = false;
}

void TNetwire::WaitUntil(const std::function<bool()>& done) {
    while (!Canceled && !done()) {
        Wait(kWaitSlice);
    }
}

void TNetwire::TimerOn() {
    StatusMessage(8, QStringLiteral("Timer On"));
    TimedOut = false;
    Timer->SetEnabled(false);
    Timer->SetInterval(static_cast<quint32>(std::max(TimeOut, 0)));
    Timer->SetEnabled(true);
}

void TNetwire::TimerOff() {
    StatusMessage(8, QStringLiteral("Timer Off"));
    Timer->SetEnabled(false);
}

void TNetwire::TimerFired() {
    StatusMessage(8, QStringLiteral("Timer Triggered"));
    TimerOff();
    TimedOut = true;
    SignalWait();
    Abort();
}

void TNetwire::Cancel() {
    StatusMessage(8, QStringLiteral("Canceling"));
    Canceled = true;
    SignalWait();
}

void TNetwire::Abort() {
    StatusMessage(8, QStringLiteral("Abort"));
    Cancel();
}

void TNetwire::RaiseIfCanceled(const char* abortText) {
    if (Canceled) {
        Canceled = false;
        throw EAbortError(Text(abortText));
    }
}

// ---------------------------------------------------------------------------------------------
// Status and errors

void TNetwire::StatusMessage(quint8 level, const QString& text) {
    if (level > ReportLevel) {
        return;
    }
    Status = text;
    if (OnStatus && !Destroying) {
        try {
            OnStatus(this, Status);
        } catch (...) {
            // A status handler never breaks the operation that reports.
        }
    }
}

int TNetwire::GetLastErrorNo() {
    StatusMessage(8, QStringLiteral("Getting LastError Number"));
    return lastErrorNo_;
}

void TNetwire::SetLastErrorNo(int errorNumber) {
    StatusMessage(8, QStringLiteral("Setting LastError Number"));
    lastErrorNo_ = errorNumber;
}

QString TNetwire::SocketErrorStr(quint16 errorNumber) {
    StatusMessage(8, QStringLiteral("Looking Up Error Message"));
    return sockerr::Describe(errorNumber);
}

QString TNetwire::ErrorManager(quint16 ignore) {
    lastErrorNo_ = GetLastErrorNo();
    QString text;
    if (lastErrorNo_ != ignore && lastErrorNo_ > 10000) {
        text = SocketErrorStr(static_cast<quint16>(lastErrorNo_));
        if (OnError) {
            OnError(this, static_cast<quint16>(lastErrorNo_), text);
        }
        throw ESockError(text);
    }
    return text;
}

void TNetwire::SetWSAError(quint16 errorNumber, QString message) {
    StatusMessage(8, QStringLiteral("Setting Winsock Error"));
    lastErrorNo_ = errorNumber;
    if (message.isEmpty()) {
        message = SocketErrorStr(errorNumber);
    }
    if (OnError) {
        OnError(this, errorNumber, message);
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting

void TNetwire::OnLookupDone(int lookupId, const QHostInfo& info) {
    if (lookupId != lookupId_) {
        return; // a lookup that was given up on
    }
    lookupId_ = -1;
    resolvedAddress_ = 0;
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            resolvedAddress_ = address.toIPv4Address();
            break;
        }
    }
    EventSucceeded = info.error() == QHostInfo::NoError && resolvedAddress_ != 0;
    AsyncDone = true;
    SignalWait();
}

void TNetwire::ResolveRemoteHost() {
    StatusMessage(8, QStringLiteral("Resolve Host"));
    const QByteArray name = Host.toLatin1();
    const in_addr_t dotted = ::inet_addr(name.constData());
    if (dotted != INADDR_NONE) {
        RemoteAddress = ntohl(dotted);
        return;
    }
    RemoteAddress = 0;
    TimerOn();
    AsyncDone = false;
    lookupId_ = QHostInfo::lookupHost(
        Host, this, [this](const QHostInfo& info) { OnLookupDone(info.lookupId(), info); });
    WaitUntil([this] { return AsyncDone || TimedOut; });
    TimerOff();
    if (!AsyncDone) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    if (TimedOut) {
        throw ESockError(QStringLiteral("Host Lookup Timed Out"));
    }
    if (Canceled) {
        throw ESockError(QStringLiteral("Host Lookup Canceled"));
    }
    if (!EventSucceeded) {
        throw ESockError(QStringLiteral("Host Lookup Failed"));
    }
    RemoteAddress = resolvedAddress_;
    if (OnHostResolved) {
        OnHostResolved(this);
    }
}

void TNetwire::Connect() {
    StatusMessage(8, QStringLiteral("Connecting"));
    Canceled = false;
    Fifo->Clear();
    streamFailure_.clear();
    WireBytesRecvd = 0;
    WireBytesSent = 0;
    if (Connected) {
        throw ESockError(QStringLiteral("Already connected"));
    }
    int retries = 0;
    do {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& error) {
            if (error.Message() == QStringLiteral("Host Lookup Timed Out") ||
                error.Message() == QStringLiteral("Host Lookup Canceled")) {
                throw;
            }
        }
        if (RemoteAddress == 0) {
            bool handled = false;
            if (retries == 0 && OnInvalidHost) {
                OnInvalidHost(handled);
            }
            if (!handled) {
                throw ESockError(QStringLiteral("Null Remote Address"));
            }
            ++retries;
        }
    } while (RemoteAddress == 0);

    // A socket left half-way by a canceled attempt starts over.
    if (socket_->state() != QAbstractSocket::UnconnectedState) {
        socket_->abort();
    }
    AsyncDone = false;
    EventSucceeded = true;
    socket_->connectToHost(QHostAddress(RemoteAddress), static_cast<quint16>(Port));
    TimerOn();
    WaitUntil([this] { return Connected || TimedOut || !EventSucceeded; });
    TimerOff();
    CloseAfterData();
    if (!TimedOut && !Canceled && EventSucceeded) {
        if (Security == TSecurity::Tls) {
            StartEncryption();
        }
        return;
    }
    if (OnConnectionFailed) {
        OnConnectionFailed(this);
    }
    if (TimedOut) {
        try {
            Disconnect();
        } catch (const std::exception&) {
            // The time-out is what the caller is told.
        }
        socket_->abort();
        throw ESockError(QStringLiteral("Connection Timed out"));
    }
    socket_->abort();
    if (Canceled) {
        throw ESockError(QStringLiteral("Connection Canceled"));
    }
    throw ESockError(QStringLiteral("Connection Failed"));
}

void TNetwire::Disconnect() {
    StatusMessage(8, QStringLiteral("Disconnecting"));
    if (Connected) {
        RequestCloseSocket();
    }
}

void TNetwire::CertifyConnect() {
    StatusMessage(8, QStringLiteral("Checking Connection"));
    for (int attempts = 0;; ++attempts) {
        if (Connected) {
            return;
        }
        if (attempts > 0 || !OnConnectionRequired) {
            break;
        }
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled) {
            break;
        }
    }
    throw Exception(QStringLiteral("Not Connected"));
}

void TNetwire::RequestCloseSocket() {
    StatusMessage(4, QStringLiteral("Request Close Socket"));
    Connected = false;
    if (socket_ == nullptr) {
        return;
    }
    const qintptr descriptor = socket_->socketDescriptor();
    if (descriptor >= 0) {
        ::shutdown(static_cast<int>(descriptor), SHUT_WR);
    }
    EndCompression();
    if (OnDisconnect && !Destroying) {
        OnDisconnect(this);
    }
    if (!Destroying) {
        // The component is always ready for the next Connect.
        ReleaseSocket();
        socket_ = new QSslSocket(this);
        AttachSocket();
    }
}

QString TNetwire::GetRemoteIP() {
    StatusMessage(8, QStringLiteral("Getting Remote IP"));
    return QHostAddress(RemoteAddress).toString();
}

QString TNetwire::GetLocalIP() {
    StatusMessage(8, QStringLiteral("Getting Local IP"));
    const QHostAddress local = socket_->localAddress();
    return local.isNull() ? QString() : local.toString();
}

// ---------------------------------------------------------------------------------------------
// Line input and output

void TNetwire::ReadToBuffer() {
    if (socket_ == nullptr) {
        return;
    }
    if (compression_) {
        ReadCompressedToBuffer();
        return;
    }
    const auto readSocket = [this](char* destination, qint64 n) {
        return socket_->read(destination, n);
    };
    qint64 received = 0;
    do {
        received = Fifo->AppendFrom(readSocket, kBlock);
        WireBytesRecvd += std::max<qint64>(received, 0);
        SignalWait();
    } while (received == kBlock);
}

bool TNetwire::DataAvailable() {
    if (socket_ != nullptr && socket_->bytesAvailable() > 0) {
        ReadToBuffer();
        SignalWait();
        return true;
    }
    const bool buffered = Fifo->Count() > 0;
    if (!buffered && Connected && socket_->state() == QAbstractSocket::UnconnectedState) {
        // The peer closed and nothing is left: the close notification may still be queued.
        ClearInput();
        Connected = false;
        try {
            RequestCloseSocket();
        } catch (const std::exception&) {
        }
        SignalWait();
        if (OnDisconnect) {
            OnDisconnect(this);
        }
    }
    return buffered;
}

void TNetwire::ClearInput() {
    StatusMessage(8, QStringLiteral("Clearing Input"));
    char discarded[kBlock];
    socket_->read(discarded, kBlock);
}

void TNetwire::Write(const QByteArray& text) {
    StatusMessage(8, QStringLiteral("Write"));
    if (text.size() <= 65535) {
        const qsizetype zero = text.indexOf('\0');
        SendBuffer(zero < 0 ? text : text.left(zero));
        return;
    }
    QByteArray copy = text;
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    SendStream(stream);
}

void TNetwire::Writeln(const QByteArray& text) {
    StatusMessage(8, QStringLiteral("Writeln"));
    const qsizetype zero = text.indexOf('\0');
    const QByteArray line = (zero < 0 ? text : text.left(zero)) + "\r\n";
    protocollog::Sent(line);
    Write(line);
}

void TNetwire::SendBuffer(const QByteArray& data) {
    StatusMessage(4, QStringLiteral("Sending Buffer"));
    TimerOn();
    WithFinally(
        [&] {
            if (!Canceled && !data.isEmpty()) {
                PushToSocket(data);
            }
        },
        [this] { TimerOff(); });
    RaiseIfCanceled("Socket send aborted");
}

void TNetwire::PushToSocket(const QByteArray& data) {
    if (socket_->state() != QAbstractSocket::ConnectedState || WriteToSocket(data) < 0) {
        RecordSocketError();
        ErrorManager(sockerr::kWouldBlock);
    }
    // Pushes the bytes to the kernel without processing window events. The time-out timer
    // cannot fire in here, so the elapsed time is checked against TimeOut.
    QElapsedTimer elapsed;
    elapsed.start();
    while (socket_->bytesToWrite() > 0 && !Canceled && !TimedOut) {
        if (!socket_->waitForBytesWritten(kWaitSlice) &&
            socket_->error() != QAbstractSocket::SocketTimeoutError &&
            socket_->state() != QAbstractSocket::ConnectedState) {
            RecordSocketError();
            ErrorManager(sockerr::kWouldBlock);
            break;
        }
        if (TimeOut > 0 && elapsed.elapsed() >= TimeOut) {
            TimerFired();
        }
    }
}

QByteArray TNetwire::ReadLn() {
    StatusMessage(8, QStringLiteral("ReadLn"));
    QByteArray line;
    const qint64 position = WaitForLine();
    if (position > 0) {
        line = Fifo->Remove(position);
        protocollog::Received(line);
    }
    RaiseIfCanceled("Socket readln aborted");
    return line;
}

bool TNetwire::LineTooLong(qint64 lineEnd) const {
    return lineEnd > kMaxLineLength || (lineEnd <= 0 && Fifo->Count() >= kMaxLineLength);
}

void TNetwire::FailLineTooLong() {
    TNetwire::Disconnect();
    throw ESockError(QStringLiteral("Reply line too long"));
}

qint64 TNetwire::WaitForLine() {
    // A line already buffered needs no wait and so no time-out: long multi-line replies are
    // read mostly from here.
    qint64 position = Canceled ? 0 : Fifo->Search(QByteArrayLiteral("\n"));
    if (!Canceled && LineTooLong(position)) {
        FailLineTooLong();
    }
    if (position > 0) {
        return position;
    }
    bool tooLong = false;
    // The bytes held now have no line end: each round searches only those that came since, so
    // a line that arrives in many small pieces costs its length, not its length squared.
    qint64 searched = Fifo->Count();
    TimerOn();
    WaitUntil([&] {
        if (TimedOut) {
            return true;
        }
        if (DataAvailable()) {
            position = Fifo->Search(QByteArrayLiteral("\n"), searched);
            searched = Fifo->Count();
            // Cut as soon as the limit is passed, not when the line ends or the time runs out.
            tooLong = LineTooLong(position);
            if (position > 0 || tooLong) {
                return true;
            }
        }
        if (StreamFailed()) {
            return true;
        }
        if (PeerClosed()) {
            // Nothing more can arrive: waiting for the time-out would only hang the caller.
            Canceled = true;
            return true;
        }
        return false;
    });
    TimerOff();
    if (tooLong) {
        FailLineTooLong();
    }
    if (position <= 0) {
        RaiseIfStreamFailed();
    }
    return position;
}

QByteArray TNetwire::Transaction(const QByteArray& command) {
    StatusMessage(8, QStringLiteral("Transaction"));
    ReplyCode = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.isEmpty()) {
        StatusMessage(1, QString::fromLatin1(LastReply));
        ReplyCode = ReplyCodeOf(LastReply);
    }
    return LastReply;
}

// ---------------------------------------------------------------------------------------------
// Unit functions

qint16 ReplyCodeOf(const QByteArray& line) {
    qsizetype digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
        ++digits;
    }
    if (digits == 0) {
        return 0;
    }
    const qlonglong value = line.left(digits).toLongLong();
    if (value > 32767) {
        throw Exception(QStringLiteral("Range check error"));
    }
    return static_cast<qint16>(value);
}
