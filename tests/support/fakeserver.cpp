#include "fakeserver.h"

#include <QFile>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

QString CertificatePath(const QString& fileName) {
    return QStringLiteral(ZK_TEST_CERTS_DIR "/") + fileName;
}

// The certificates of one file of the test certificates. A file that gives none fails the test:
// a client trusting nothing, or a fingerprint of nothing, would make the checks prove little.
QList<QSslCertificate> CertificatesOf(const QString& fileName) {
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromPath(CertificatePath(fileName));
    if (certificates.isEmpty()) {
        ADD_FAILURE() << "no test certificate in " << CertificatePath(fileName).toStdString();
    }
    return certificates;
}

// Every connection is a QSslSocket, plain until a script says E:.
class TlsCapableServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        addPendingConnection(socket);
    }
};

QByteArray Unescape(const QByteArray& text) {
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            if (next == 'x' && i + 2 < text.size()) {
                bytes += static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
                continue;
            }
            bytes += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

} // namespace

// The session's two raw deflate streams, written against zlib directly so that the client's
// own compression code is checked against another implementation of its use of zlib.
struct FakeCompression {
    z_stream deflater{};
    z_stream inflater{};
    bool broken = false;

    FakeCompression() {
        deflateInit2(&deflater, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        inflateInit2(&inflater, -15);
    }
    ~FakeCompression() {
        deflateEnd(&deflater);
        inflateEnd(&inflater);
    }
    FakeCompression(const FakeCompression&) = delete;
    FakeCompression& operator=(const FakeCompression&) = delete;

    QByteArray Deflate(const QByteArray& plain) {
        QByteArray out(static_cast<qsizetype>(deflateBound(&deflater, plain.size())) + 64, '\0');
        deflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
        deflater.avail_in = static_cast<uInt>(plain.size());
        deflater.next_out = reinterpret_cast<Bytef*>(out.data());
        deflater.avail_out = static_cast<uInt>(out.size());
        deflate(&deflater, Z_SYNC_FLUSH);
        out.truncate(out.size() - deflater.avail_out);
        return out;
    }

    // Empty, with broken set, once the client's data does not inflate.
    QByteArray Inflate(const QByteArray& compressed) {
        QByteArray plain;
        inflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
        inflater.avail_in = static_cast<uInt>(compressed.size());
        char out[16384];
        int result = Z_OK;
        do {
            inflater.next_out = reinterpret_cast<Bytef*>(out);
            inflater.avail_out = sizeof out;
            result = inflate(&inflater, Z_SYNC_FLUSH);
            plain.append(out, static_cast<qsizetype>(sizeof out - inflater.avail_out));
        } while (result == Z_OK && (inflater.avail_in > 0 || inflater.avail_out == 0));
        broken = broken || (result != Z_OK && result != Z_BUF_ERROR);
        return broken ? QByteArray() : plain;
    }
};

QList<QSslCertificate> TestCertificateAuthority() {
    return CertificatesOf(QStringLiteral("ca.pem"));
}

QSslCertificate TestCertificate(const QString& name) {
    return CertificatesOf(name + QStringLiteral(".pem")).value(0);
}

FakeServer::FakeServer() : server_(new TlsCapableServer(this)) {
    server_->listen(QHostAddress::LocalHost, 0);
    connect(server_, &QTcpServer::newConnection, this, &FakeServer::OnNewConnection);
}

FakeServer::~FakeServer() {
    for (Session* session : sessions_) {
        if (session->socket) {
            session->socket->abort();
        }
        delete session;
    }
}

quint16 FakeServer::Port() const {
    return server_->serverPort();
}

QList<FakeServer::Step> FakeServer::Parse(const QByteArray& conversation) {
    QList<Step> steps;
    for (QByteArray line : conversation.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const char kind = line[0];
        const QByteArray data = line.size() > 3 ? line.mid(3) : QByteArray();
        if (kind == 'S' && line[1] == '~') {
            steps.append({'~', data + "\r\n"});
        } else if (kind == 'S') {
            steps.append({'S', data + "\r\n"});
        } else if (kind == 'R') {
            steps.append({'R', Unescape(data)});
        } else {
            steps.append({kind, data});
        }
    }
    return steps;
}

void FakeServer::AddScript(const QByteArray& conversation) {
    scripts_.append(Parse(conversation));
}

void FakeServer::UseCertificate(const QString& name) {
    certificate_ = TestCertificate(name);
    QFile key(CertificatePath(QStringLiteral("server.key")));
    key.open(QIODevice::ReadOnly);
    key_ = QSslKey(&key, QSsl::Ec);
    if (certificate_.isNull() || key_.isNull()) {
        failures_.append(QStringLiteral("no test certificate ") + name);
    }
}

void FakeServer::StartEncryption(Session* session) {
    auto* socket = qobject_cast<QSslSocket*>(session->socket.data());
    socket->setLocalCertificate(certificate_);
    socket->setPrivateKey(key_);
    connect(socket, &QSslSocket::encrypted, this, [this, session] { Advance(session); });
    socket->startServerEncryption();
}

bool FakeServer::Finished() const {
    if (sessions_.size() < scripts_.size()) {
        return false;
    }
    for (const Session* session : sessions_) {
        if (session->next < session->steps.size()) {
            return false;
        }
    }
    return true;
}

int FakeServer::OpenConnections() const {
    int open = 0;
    for (const Session* session : sessions_) {
        if (session->socket && session->socket->state() != QAbstractSocket::UnconnectedState) {
            ++open;
        }
    }
    return open;
}

void FakeServer::DropAll() {
    for (Session* session : sessions_) {
        if (session->socket) {
            session->socket->abort();
        }
    }
}

void FakeServer::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto* session = new Session;
        session->socket = socket;
        if (connections_ < scripts_.size()) {
            session->steps = scripts_[connections_];
        }
        ++connections_;
        sessions_.append(session);
        connect(socket, &QTcpSocket::readyRead, this, [this, session] { OnReadyRead(session); });
        Advance(session);
    }
}

void FakeServer::Send(Session* session, const QByteArray& bytes) {
    session->socket->write(session->compression ? session->compression->Deflate(bytes) : bytes);
    session->socket->flush();
}

QByteArray FakeServer::Arrived(Session* session) {
    const QByteArray arrived = session->socket->readAll();
    if (!session->compression) {
        return arrived;
    }
    const bool wasBroken = session->compression->broken;
    const QByteArray plain = session->compression->Inflate(arrived);
    if (session->compression->broken && !wasBroken) {
        failures_.append(QStringLiteral("the client's compressed data does not inflate"));
    }
    return plain;
}

bool FakeServer::AnsweredUnscripted(Session* session, const QByteArray& line) {
    const bool awaited = session->next < session->steps.size() &&
                         session->steps[session->next].kind == 'C' &&
                         session->steps[session->next].data == line;
    if (line != "CAPABILITIES" || awaited) {
        return false;
    }
    Send(session, "500 Unknown command\r\n");
    ++unscriptedCapabilities_;
    return true;
}

void FakeServer::OnReadyRead(Session* session) {
    if (!session->socket) {
        return;
    }
    const QByteArray arrived = Arrived(session);
    if (session->dropping) {
        return;
    }
    session->pending += arrived;
    qsizetype end;
    while ((end = session->pending.indexOf('\n')) >= 0) {
        QByteArray line = session->pending.left(end);
        session->pending.remove(0, end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (AnsweredUnscripted(session, line)) {
            continue;
        }
        received_.append(line);
        session->unmatched.append(line);
    }
    if (!session->waiting) {
        Advance(session);
    }
}

void FakeServer::Match(Session* session, const QByteArray& expected) {
    const QByteArray line = session->unmatched.takeFirst();
    if (expected != "*" && expected != line) {
        failures_.append(QStringLiteral("expected \"%1\", client sent \"%2\"")
                             .arg(QString::fromLatin1(expected), QString::fromLatin1(line)));
    }
}

void FakeServer::Advance(Session* session) {
    while (session->socket && session->next < session->steps.size()) {
        const Step step = session->steps[session->next];
        switch (step.kind) {
        case 'C':
            if (session->unmatched.isEmpty()) {
                return; // wait for the client's line
            }
            Match(session, step.data);
            break;
        case 'S':
            Send(session, step.data);
            break;
        case 'R':
            session->socket->write(step.data);
            session->socket->flush();
            break;
        case '~': {
            ++session->next;
            // One byte at a time, then the rest of the script.
            auto remaining = std::make_shared<QByteArray>(step.data);
            auto* trickle = new QTimer(session->socket);
            session->waiting = true;
            connect(trickle, &QTimer::timeout, this, [this, session, remaining, trickle] {
                if (!session->socket) {
                    return;
                }
                Send(session, remaining->left(1));
                remaining->remove(0, 1);
                if (remaining->isEmpty()) {
                    trickle->deleteLater();
                    session->waiting = false;
                    Advance(session);
                }
            });
            trickle->start(trickleMilliseconds_);
            return;
        }
        case 'D':
            session->dropping = true;
            break;
        case 'T':
            trickleMilliseconds_ = step.data.toInt();
            break;
        case 'W':
            ++session->next;
            session->waiting = true;
            QTimer::singleShot(step.data.toInt(), this, [this, session] {
                session->waiting = false;
                Advance(session);
            });
            return;
        case 'E':
            ++session->next;
            StartEncryption(session);
            return;
        case 'Z':
            session->compression = std::make_shared<FakeCompression>();
            break;
        case 'X':
            ++session->next;
            session->socket->flush();
            session->socket->disconnectFromHost();
            return;
        default:
            failures_.append(QStringLiteral("unknown script step ") + QLatin1Char(step.kind));
            break;
        }
        ++session->next;
    }
}

void ExpectScriptPlayed(const FakeServer& server) {
    EXPECT_TRUE(server.Failures().isEmpty()) << server.Failures().join(u'\n').toStdString();
}
