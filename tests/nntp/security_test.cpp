// CAPABILITIES, STARTTLS and the 483 reply against the fake server.
#include "nntp/qrnntp.h"

#include "fakeserver.h"
#include "recordingpresenter.h"
#include "testhelpers.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kQuit = "C: QUIT\nS: 205 bye";
constexpr char kCapabilitiesWithStartTls[] =
    "C: CAPABILITIES\nS: 101 Capability list:\nS: VERSION 2\nS: READER\nS: starttls\nS: .\n";

struct Client {
    FakeServer server;
    TQRNNTP nntp;
    TRecordingPresenter presenter;

    Client(const QByteArray& conversation, TSecurity security) {
        server.UseCertificate(QStringLiteral("good"));
        server.AddScript(conversation);
        nntp.Host = QStringLiteral("127.0.0.1");
        nntp.Port = server.Port();
        nntp.TimeOut = 10000;
        nntp.Security = security;
        nntp.ExtraCaCertificates = TestCertificateAuthority();
    }

    void ExpectScriptPlayed() const {
        EXPECT_TRUE(server.Failures().isEmpty()) << server.Failures().join(u'\n').toStdString();
    }
};

} // namespace

TEST(NntpSecurity, StartTlsEncryptsAndAsksForTheCapabilitiesAgainBeforeTheLogin) {
    Client c(QByteArray("S: 480 login first\n") + kCapabilitiesWithStartTls +
                 "C: STARTTLS\nS: 382 go ahead\nE:\n"
                 "C: CAPABILITIES\nS: 101 Capability list:\nS: VERSION 2\nS: AUTHINFO USER\nS: .\n"
                 "C: USER fred\nS: 381 more\nC: PASS secret\nS: 281 welcome\n"
                 "C: GROUP a.b\nS: 211 1 1 1 a.b",
             TSecurity::StartTls);
    c.nntp.UserId = "fred";
    c.nntp.Password = "secret";
    int encrypted = 0;
    c.nntp.OnEncrypted = [&](QObject*) { ++encrypted; };
    c.nntp.Connect();
    c.nntp.SetGroup("a.b");
    EXPECT_EQ(encrypted, 1);
    EXPECT_FALSE(c.nntp.EncryptionDescription().isEmpty());
    EXPECT_TRUE(c.nntp.HasCapability("AUTHINFO"));
    EXPECT_FALSE(c.nntp.HasCapability("STARTTLS"));
    c.ExpectScriptPlayed();
}

TEST(NntpSecurity, ImplicitTlsAsksForTheCapabilitiesAndAPlainConnectionDoesNot) {
    Client tls("E:\nS: 200 ready\nC: CAPABILITIES\nS: 500 what?\nC: GROUP a.b\nS: 211 1 1 1 a.b",
               TSecurity::Tls);
    tls.nntp.Connect();
    tls.nntp.SetGroup("a.b");
    EXPECT_TRUE(tls.nntp.Capabilities.IsEmpty());
    tls.ExpectScriptPlayed();

    Client plain("S: 200 ready\nC: GROUP a.b\nS: 211 1 1 1 a.b", TSecurity::None);
    plain.nntp.Connect();
    plain.nntp.SetGroup("a.b");
    EXPECT_TRUE(plain.nntp.EncryptionDescription().isEmpty());
    plain.ExpectScriptPlayed();
}

TEST(NntpSecurity, StartTlsNeverGoesOnInPlainText) {
    struct Case {
        const char* what;
        QByteArray conversation;
        const char* message;
    };
    const Case cases[] = {
        {"not offered", "S: 200 ready\nC: CAPABILITIES\nS: 101 list\nS: VERSION 2\nS: .\n" + kQuit,
         "The server does not offer STARTTLS; the connection was closed rather than used "
         "unencrypted"},
        {"no CAPABILITIES", "S: 200 ready\nC: CAPABILITIES\nS: 500 unknown command\n" + kQuit,
         "The server does not offer STARTTLS; the connection was closed rather than used "
         "unencrypted"},
        {"refused", QByteArray("S: 200 ready\n") + kCapabilitiesWithStartTls +
                        "C: STARTTLS\nS: 580 Can not initiate TLS negotiation\n" + kQuit,
         "The server refused STARTTLS: 580 Can not initiate TLS negotiation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Client client(c.conversation, TSecurity::StartTls);
        client.nntp.UserId = "fred";
        client.nntp.Password = "secret";
        EXPECT_EQ(MessageOf<NNTPError>([&] { client.nntp.Connect(); }),
                  QString::fromLatin1(c.message));
        EXPECT_FALSE(client.nntp.Connected);
        client.ExpectScriptPlayed();
    }
}

TEST(NntpSecurity, A483ReplySuggestsEncryptionAndNoPasswordFollows) {
    const QString message = QStringLiteral("The server requires an encrypted connection (483): "
                                           "choose Security TLS (port 563) or STARTTLS");
    for (const QByteArray conversation :
         {"S: 200 ready\nC: GROUP a.b\nS: 483 Encryption required",
          "S: 200 ready\nC: GROUP a.b\nS: 480 login first\nC: AUTHINFO USER fred\n"
          "S: 483 Encryption required"}) {
        Client c(conversation, TSecurity::None);
        c.nntp.UserId = "fred";
        c.nntp.Password = "secret";
        c.nntp.Connect();
        EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.SetGroup("a.b"); }), message);
        EXPECT_FALSE(c.nntp.Busy);
        EXPECT_FALSE(c.server.Received().contains("AUTHINFO PASS secret"));
        c.ExpectScriptPlayed();
    }
}
