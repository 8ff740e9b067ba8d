// The connection's encryption against the fake server playing a TLS server with the test
// certificates (tests/support/certs): verification, the user's answers, kept certificates,
// and handshakes that cannot succeed.
#include "net/nwire.h"

#include "scriptedclient.h"
#include "testhelpers.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr char kTlsGreeting[] = "E:\nS: 200 hello over TLS";

// A client that encrypts from the first byte, trusting the test CA, and a fake server
// presenting certificate.
struct TlsWire : ScriptedWire {
    explicit TlsWire(const QString& certificate, const QByteArray& conversation = kTlsGreeting)
        : ScriptedWire({conversation}, TSecurity::Tls) {
        server.UseCertificate(certificate);
    }

    QByteArray Digest(const QString& certificate) const {
        return TestCertificate(certificate).digest(QCryptographicHash::Sha256);
    }
};

// Aborts the wire once its connection is open, when its handshake is under way: a poll of the
// wire's own state, so that the abort reaches the handshake however long the connection took
// to open.
void AbortOnceHandshaking(TNetwire& wire) {
    auto* poll = new QTimer(&wire);
    QObject::connect(poll, &QTimer::timeout, &wire, [&wire, poll] {
        if (wire.Connected && !wire.Encrypted()) {
            poll->deleteLater();
            wire.Abort();
        }
    });
    poll->start(10);
}

} // namespace

TEST(Tls, AVerifiedCertificateConnectsWithoutAQuestion) {
    TlsWire w(QStringLiteral("good"));
    int encrypted = 0;
    w.wire.OnEncrypted = [&](QObject*) { ++encrypted; };
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 hello over TLS\r\n");
    EXPECT_EQ(encrypted, 1);
    EXPECT_TRUE(w.wire.EncryptionDescription().startsWith(QStringLiteral("TLSv1.")))
        << w.wire.EncryptionDescription().toStdString();
    EXPECT_TRUE(w.presenter.certificateQuestions.isEmpty());
    w.ExpectScriptPlayed();
}

TEST(Tls, EachCertificateThatFailsIsShownAndRefusedWithItsReason) {
    struct Case {
        const char* certificate;
        const char* subject;
        const char* error;
    };
    const Case cases[] = {
        {"otherhost", "CN=news.example.org",
         "The host name did not match any of the valid hosts for this certificate"},
        {"expired", "CN=127.0.0.1", "The certificate has expired"},
        {"unknownca", "CN=127.0.0.1",
         "The issuer certificate of a locally looked up certificate could not be found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate);
        TlsWire w(QString::fromLatin1(c.certificate));
        const QString message = MessageOf<ESockError>([&] { w.wire.Connect(); });
        EXPECT_TRUE(message.startsWith(QStringLiteral("Server certificate not trusted: ")))
            << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromLatin1(c.error))) << message.toStdString();
        EXPECT_FALSE(w.wire.Connected);
        ASSERT_EQ(w.presenter.certificateQuestions.size(), 1);
        const TCertificateQuestion& question = w.presenter.certificateQuestions[0];
        EXPECT_EQ(question.server, QStringLiteral("127.0.0.1:") + QString::number(w.server.Port()));
        EXPECT_EQ(question.subject, QString::fromLatin1(c.subject));
        EXPECT_TRUE(question.errors.contains(QString::fromLatin1(c.error)));
        EXPECT_EQ(question.fingerprint,
                  certtrust::DisplayFingerprint(w.Digest(QString::fromLatin1(c.certificate))));
        EXPECT_FALSE(question.changed);
        EXPECT_TRUE(message.contains(question.fingerprint));
    }
}

TEST(Tls, ConnectOnceKeepsNothingAlwaysTrustKeepsTheCertificateForThisServerOnly) {
    TlsWire w(QStringLiteral("unknownca"), QByteArray(kTlsGreeting) + "\nX:");
    w.server.AddScript(kTlsGreeting);
    w.server.AddScript(kTlsGreeting);
    w.presenter.certificateAnswers = {TCertificateAnswer::ConnectOnce,
                                      TCertificateAnswer::AlwaysTrust};
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 hello over TLS\r\n");
    EXPECT_TRUE(w.wire.TrustedCertificates.isEmpty());
    w.wire.Disconnect();

    w.wire.Connect();
    const TCertificatePin kept{QStringLiteral("127.0.0.1"), w.server.Port(),
                               w.Digest(QStringLiteral("unknownca"))};
    EXPECT_EQ(w.wire.TrustedCertificates, TCertificatePins{kept});
    w.wire.Disconnect();

    // Kept: asked no more.
    w.wire.Connect();
    EXPECT_EQ(w.wire.ReadLn(), "200 hello over TLS\r\n");
    EXPECT_EQ(w.presenter.certificateQuestions.size(), 2);
}

TEST(Tls, AKeptCertificateThatNoLongerMatchesWarnsAndAsksAgain) {
    TlsWire w(QStringLiteral("expired"));
    w.wire.TrustedCertificates = {TCertificatePin{QStringLiteral("127.0.0.1"), w.server.Port(),
                                                  w.Digest(QStringLiteral("unknownca"))}};
    const QString message = MessageOf<ESockError>([&] { w.wire.Connect(); });
    ASSERT_EQ(w.presenter.certificateQuestions.size(), 1);
    EXPECT_TRUE(w.presenter.certificateQuestions[0].changed);
    EXPECT_TRUE(CertificateQuestionText(w.presenter.certificateQuestions[0])
                    .startsWith(QStringLiteral("WARNING: ")));
    EXPECT_TRUE(message.contains(QStringLiteral("not the certificate kept as trusted")))
        << message.toStdString();
}

TEST(Tls, HandshakesThatCannotSucceedEndWithAClearMessageAndLeaveTheWireUsable) {
    struct Case {
        const char* what;
        QByteArray conversation;
        int timeOut; // milliseconds
        bool abort;  // aborted once the handshake is under way
        const char* message;
    };
    // Only the case that waits for the time-out has a short one; the others end on an event
    // long before the fixture's 10 s.
    const Case cases[] = {
        {"TLS to a plain port", "S: 200 plain text here", 10000, false,
         "TLS handshake failed: Error during SSL handshake"},
        {"a close during the handshake", "W: 50\nX:", 10000, false, "TLS handshake failed: "},
        {"a server that says nothing", "W: 60000", 1500, false, "TLS handshake timed out"},
        {"an abort", "W: 60000", 10000, true, "TLS handshake canceled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsWire w(QStringLiteral("good"), c.conversation);
        w.server.AddScript(kTlsGreeting);
        w.wire.TimeOut = c.timeOut;
        if (c.abort) {
            AbortOnceHandshaking(w.wire);
        }
        QElapsedTimer elapsed;
        elapsed.start();
        const QString message = MessageOf<ESockError>([&] { w.wire.Connect(); });
        EXPECT_TRUE(message.startsWith(QString::fromLatin1(c.message))) << message.toStdString();
        // The silent server holds back for 60 s: ending in well under that shows the wire gave
        // up by itself. The margin is wide because a busy machine may stall the test for seconds.
        EXPECT_LT(elapsed.elapsed(), 30000);
        EXPECT_FALSE(w.wire.Connected);
        w.wire.TimeOut = 10000;
        w.wire.Connect();
        EXPECT_EQ(w.wire.ReadLn(), "200 hello over TLS\r\n");
    }
}

TEST(Tls, FingerprintsReadAsTheCommandLineAndTheSettingsWriteThem) {
    const QByteArray digest = QByteArray::fromHex(QByteArray(64, 'a').replace(0, 2, "0F"));
    EXPECT_EQ(certtrust::FingerprintText(digest), "SHA256:0F" + QByteArray(62, 'A'));
    EXPECT_EQ(certtrust::ParseFingerprint(certtrust::FingerprintText(digest)), digest);
    EXPECT_EQ(certtrust::ParseFingerprint("sha256:" + digest.toHex(':')), digest);
    for (const QByteArray& wrong :
         {QByteArray("0F" + QByteArray(62, 'A')), QByteArray("SHA256:" + QByteArray(62, 'A')),
          QByteArray("SHA256:" + QByteArray(64, 'G')), QByteArray("SHA1:" + QByteArray(40, 'A'))}) {
        EXPECT_TRUE(certtrust::ParseFingerprint(wrong).isEmpty()) << wrong.toStdString();
    }
}
