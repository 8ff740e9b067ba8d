#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <memory>

class QTcpServer;
class QTcpSocket;
struct FakeCompression;

// A scripted news server for tests: listens on 127.0.0.1 on a free port and plays one script
// per accepted connection, recording every line the client sent.
//
// A script is written as the conversation it is:
//   S: 200 news.example ready        the server sends the line and CR LF
//   C: GROUP misc.test               the server waits for this line from the client
//   C: *                             ... for any line
//                                    Lines are taken in the order sent, whenever they came: a
//                                    client may send several commands before a reply, and a
//                                    script may wait for all of them before it answers.
//   S~ 211 3 1 3 misc.test           the line is sent in single-byte writes, 20 ms apart
//   T: 100                           later S~ lines trickle one byte every 100 ms
//   R: <bytes>                       raw bytes, escapes \r \n \t \\ \xNN, no line end added;
//                                    after Z: too they go out as they are, not deflated
//   W: 200                           waits 200 ms
//   X:                               closes the connection
//   D:                               from here on drops what the client sends unread, as a
//                                    plain server does with the bytes of a TLS handshake
//   E:                               starts TLS as the server and goes on once it is encrypted
//                                    (UseCertificate says with which certificate)
//   Z:                               compression (RFC 8054) for the rest of the connection:
//                                    what the client sends is inflated before it is matched
//                                    and recorded, S: and S~ lines are deflated (each write
//                                    flushed); data that does not inflate is a failure
// A line CAPABILITIES that the script's next step does not wait for by name is answered
// "500 Unknown command", as a server from before RFC 3977 answers it, and not recorded: a
// client that asks for the capabilities on every connection meets the plain conversations of
// the scripts.
// A script that ends without X: keeps the connection open.
class FakeServer : public QObject {
    Q_OBJECT
public:
    FakeServer();
    ~FakeServer() override;

    quint16 Port() const;
    // Adds the script for the next connection to be accepted.
    void AddScript(const QByteArray& conversation);
    // The certificate that E: presents: name.pem of the test certificates (tests/support/certs),
    // with their one key.
    void UseCertificate(const QString& name);
    // Every line the client sent, without line ends, over all connections.
    const QList<QByteArray>& Received() const { return received_; }
    // How many CAPABILITIES lines were answered without the script waiting for them.
    int UnscriptedCapabilities() const { return unscriptedCapabilities_; }
    // Mismatches between the script and the client's lines.
    const QStringList& Failures() const { return failures_; }
    // True once every script has been played to its end.
    bool Finished() const;
    int Connections() const { return connections_; }
    // Connections not closed yet, by either side.
    int OpenConnections() const;
    // Closes every open connection now, as a server that dies does.
    void DropAll();

private:
    struct Step {
        char kind;
        QByteArray data;
    };
    struct Session {
        QPointer<QTcpSocket> socket;
        QList<Step> steps;
        int next = 0;
        QByteArray pending;
        // Lines the client sent that no C: step has taken yet.
        QList<QByteArray> unmatched;
        // While a W: or S~ step runs: the script goes on when it is done.
        bool waiting = false;
        bool dropping = false;
        std::shared_ptr<FakeCompression> compression;
    };

    void OnNewConnection();
    void Advance(Session* session);
    void OnReadyRead(Session* session);
    // Takes the first line not taken yet for a C: step that expects this.
    void Match(Session* session, const QByteArray& expected);
    static QList<Step> Parse(const QByteArray& conversation);
    void StartEncryption(Session* session);
    // Writes bytes to the client, deflated once the session is compressed.
    void Send(Session* session, const QByteArray& bytes);
    // The client's bytes as sent, inflated once the session is compressed.
    QByteArray Arrived(Session* session);
    // True when line is a CAPABILITIES that the script does not wait for; answers it.
    bool AnsweredUnscripted(Session* session, const QByteArray& line);

    QTcpServer* server_;
    QList<QList<Step>> scripts_;
    QList<Session*> sessions_;
    QList<QByteArray> received_;
    QStringList failures_;
    QSslCertificate certificate_;
    QSslKey key_;
    int connections_ = 0;
    int unscriptedCapabilities_ = 0;
    int trickleMilliseconds_ = 20;
};

// The test certificates' CA, which a client must be told to trust.
QList<QSslCertificate> TestCertificateAuthority();
// The certificate name.pem of the test certificates.
QSslCertificate TestCertificate(const QString& name);

// Fails the calling test, listing them, when any line the client sent was not the one the
// server's scripts waited for.
void ExpectScriptPlayed(const FakeServer& server);
