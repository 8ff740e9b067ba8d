// The bulk transfer operations of the connection: whole streams and files sent in blocks,
// counted reads, captures of what arrives into streams, files and strings, and the small text
// functions of the unit.
#include "net/nwire.h"

#include "net/protocollog.h"
#include "util/finally.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSslSocket>
#include <sys/socket.h>

// ---------------------------------------------------------------------------------------------
// Bulk transfer

void TNetwire::WaitUntilFlushed(bool restartTimer) {
    WaitUntil([this] { return socket_->bytesToWrite() == 0 || !Connected; });
    if (restartTimer) {
        TimerOn();
    }
}

void TNetwire::WaitUntilReceived() {
    WaitUntil([this] { return Fifo->Count() > 0 || !Connected || StreamFailed(); });
}

void TNetwire::SendChunks(QIODevice& stream, SendMode mode) {
    QByteArray chunk;
    while (!stream.atEnd() && stream.pos() != stream.size() && !Canceled) {
        chunk = stream.read(kBlock);
        if (chunk.isEmpty()) {
            break;
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            RecordSocketError();
            ErrorManager(sockerr::kWouldBlock);
        }
        const qint64 sent = WriteToSocket(chunk);
        if (sent < 0) {
            RecordSocketError();
            ErrorManager(sockerr::kWouldBlock);
            continue;
        }
        if (sent == 0) {
            if (mode == SendMode::File) {
                continue; // the rest of this chunk is abandoned
            }
            return;
        }
        QCoreApplication::processEvents();
        WaitUntilFlushed(mode != SendMode::WholeStream);
        BytesSent += sent;
        if (OnPacketSent) {
            OnPacketSent(this);
        }
    }
}

void TNetwire::SendStream(QIODevice& stream) {
    StatusMessage(8, QStringLiteral("SendStream"));
    stream.seek(0);
    if (!Canceled) {
        BytesSent = 0;
        BytesTotal = stream.size();
        SendChunks(stream, SendMode::WholeStream);
    }
    RaiseIfCanceled("Socket send aborted");
}

void TNetwire::SendRestStream(QIODevice& stream) {
    StatusMessage(8, QStringLiteral("SendStream"));
    if (!Canceled) {
        BytesSent = 0;
        BytesTotal = stream.size();
        WithFinally([&] { SendChunks(stream, SendMode::RestOfStream); }, [this] { TimerOff(); });
    }
    RaiseIfCanceled("Socket send aborted");
}

void TNetwire::SendFile(const QString& fileName) {
    StatusMessage(8, QStringLiteral("SendFile"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(QStringLiteral("Cannot open file ") + fileName + QStringLiteral(": ") +
                        file.errorString());
    }
    BytesTotal = file.size();
    WithFinally([&] { SendChunks(file, SendMode::File); }, [this] { TimerOff(); });
    RaiseIfCanceled("Socket send aborted");
}

QByteArray TNetwire::Read(quint16 count) {
    StatusMessage(8, QStringLiteral("Read( ") + QString::number(count) + QStringLiteral(" )"));
    qint64 wanted = count;
    if (wanted == 0) {
        wanted = Fifo->Count();
        if (wanted > 65535) {
            throw Exception(QStringLiteral("Range check error"));
        }
    }
    TimerOn();
    WaitUntil([&] {
        if (Fifo->Count() >= wanted || TimedOut) {
            return true;
        }
        DataAvailable();
        if (Fifo->Count() >= wanted || StreamFailed()) {
            return true;
        }
        if (PeerClosed()) {
            // The buffered bytes cannot complete the request; they stay buffered.
            Canceled = true;
            return true;
        }
        return false;
    });
    TimerOff();
    if (Fifo->Count() < wanted) {
        RaiseIfStreamFailed();
    }
    RaiseIfCanceled("Socket send aborted");
    return wanted > 0 ? Fifo->Remove(wanted) : QByteArray();
}

void TNetwire::CaptureStream(QIODevice& stream, qint64 size) {
    StatusMessage(8, QStringLiteral("Capture Stream"));
    BytesRecvd = 0;
    TimerOn();
    while (!Canceled) {
        if (size != -1) {
            WaitUntilReceived();
        }
        const QByteArray chunk = Fifo->Remove(std::min<qint64>(Fifo->Count(), kBlock));
        stream.write(chunk);
        BytesRecvd += chunk.size();
        if (OnPacketRecvd) {
            OnPacketRecvd(this);
        }
        TimerOn();
        if ((!Connected && Fifo->Count() == 0) || stream.size() == size || size == -1) {
            break;
        }
    }
    TimerOff();
    RaiseIfStreamFailed();
    RaiseIfCanceled("Socket capture aborted");
}

void TNetwire::CaptureFile(const QString& fileName) {
    StatusMessage(8, QStringLiteral("CaptureFile"));
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw Exception(QStringLiteral("Cannot create file ") + fileName + QStringLiteral(": ") +
                        file.errorString());
    }
    CaptureStream(file, -2);
}

void TNetwire::AppendFile(const QString& fileName) {
    StatusMessage(8, QStringLiteral("Append File"));
    QFile file(fileName);
    if (!file.exists() || !file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        throw Exception(QStringLiteral("Cannot open file ") + fileName + QStringLiteral(": ") +
                        file.errorString());
    }
    CaptureStream(file, -2);
}

void TNetwire::CaptureString(QByteArray& text, qint64 size) {
    StatusMessage(8, QStringLiteral("Capture String"));
    StatusMessage(8, QStringLiteral("CaptureFile"));
    BytesRecvd = 0;
    text.clear();
    TimerOn();
    while (!Canceled) {
        if (size != -1) {
            WaitUntilReceived();
        }
        qint64 n = Fifo->Count();
        if (size != -1 && text.size() + n >= size) {
            n = size - text.size();
        }
        if (n > 0) {
            text += Fifo->Remove(n);
            BytesRecvd += n;
            TimerOn();
        }
        if (OnPacketRecvd) {
            OnPacketRecvd(this);
        }
        if ((!Connected && Fifo->Count() == 0) || text.size() == size || size == -1) {
            break;
        }
    }
    TimerOff();
    RaiseIfStreamFailed();
    RaiseIfCanceled("Socket capture aborted");
}

void TNetwire::ReadLinesUntil(const std::function<bool(QByteArrayView line)>& takeLine) {
    StatusMessage(8, QStringLiteral("ReadLines"));
    bool lastTaken = false;
    while (!lastTaken) {
        const qint64 firstLineEnd = WaitForLine();
        if (firstLineEnd <= 0) {
            // As ReadLn: an abort raises, a wait that ended otherwise gives an empty line.
            RaiseIfCanceled("Socket readln aborted");
            lastTaken = takeLine(QByteArrayView());
            continue;
        }
        if (Fifo->MemoryView().indexOf('\n') < 0) {
            // The line runs on into the overflow file: it is the one line copied out.
            const QByteArray line = Fifo->Remove(firstLineEnd);
            protocollog::Received(line);
            lastTaken = takeLine(line);
            continue;
        }
        lastTaken = TakeHeldLines(takeLine);
    }
}

bool TNetwire::TakeHeldLines(const std::function<bool(QByteArrayView line)>& takeLine) {
    // The lines are read where they lie in the buffer. A handler may let the socket deliver
    // more, which can move the held bytes but not change them: the view is taken again after
    // each line, and the lines seen leave the buffer together, also when a handler raises.
    qsizetype taken = 0;
    bool lastTaken = false;
    WithFinally(
        [&] {
            // An abort from a handler ends the read at once, not after the lines held.
            for (QByteArrayView held = Fifo->MemoryView(); !lastTaken && !Canceled;
                 held = Fifo->MemoryView()) {
                const qsizetype end = held.indexOf('\n', taken);
                if (end < 0) {
                    break;
                }
                const QByteArrayView line = held.sliced(taken, end + 1 - taken);
                if (LineTooLong(line.size())) {
                    FailLineTooLong();
                }
                taken = end + 1;
                protocollog::Received(QByteArray::fromRawData(line.data(), line.size()));
                lastTaken = takeLine(line);
            }
        },
        [&] { Fifo->Discard(taken); });
    return lastTaken;
}

void TNetwire::FilterHeader(QIODevice& stream) {
    StatusMessage(8, QStringLiteral("FilterHeader"));
    QByteArray line;
    do {
        line = ReadLn();
        stream.write(line);
    } while (line != "\n" && line != "\r\n" && !line.isEmpty());
}

void TNetwire::SetLinger(bool on) {
    const qintptr descriptor = socket_->socketDescriptor();
    if (descriptor < 0) {
        return;
    }
    const linger option{on ? 1 : 0, 0};
    ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

void TNetwire::CloseAfterData() {
    SetLinger(true);
}

void TNetwire::CloseImmediate() {
    SetLinger(false);
}

QString TNetwire::GetLocalAddress() {
    return socket_->localAddress().toString().replace(QLatin1Char('.'), QLatin1Char(','));
}

QString TNetwire::GetPortString() {
    const quint16 port = socket_->localPort();
    return QStringLiteral(",%1,%2").arg(port / 256).arg(port % 256);
}

// ---------------------------------------------------------------------------------------------
// Unit functions

QByteArray NthWord(const QByteArray& text, char delimiter, int n) {
    QByteArray word;
    int delimiters = 0;
    for (const char c : text) {
        if (c == delimiter) {
            if (++delimiters >= n) {
                break;
            }
        } else if (n == delimiters + 1) {
            word += c;
        }
    }
    return word;
}

int NthPos(const QByteArray& text, char delimiter, int n) {
    int delimiters = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == delimiter && ++delimiters == n) {
            return static_cast<int>(i + 1);
        }
    }
    return static_cast<int>(text.size() + 1);
}

void StreamLn(QIODevice& stream, const QByteArray& text) {
    stream.write(text);
    stream.write("\r\n", 2);
}
