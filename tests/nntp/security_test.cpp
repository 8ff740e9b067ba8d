// CAPABILITIES, STARTTLS and the 483 reply against the fake server.
#include "nntp/qrnntp.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "util/presenter.h"
#include "wait.h"

#include <gtest/gtest.h>

namespace {

constexpr char kCapabilitiesWithStartTls[] =
    "C: CAPABILITIES\nS: 101 Capability list:\nS: VERSION 2\nS: READER\nS: starttls\nS: .\n";

// What a server that wants the password in plain text answers to whatever comes next: a 480
// to QUIT, then the login a client must never start on a connection without its security.
constexpr char kLoginLure[] = "C: *\nS: 480 login first\nC: *\nS: 381 password please\n"
                              "C: *\nS: 281 welcome\nC: *\nS: 205 bye\n";

// The window's way to ask for a missing password: through the presenter.
void PromptForPassword(ScriptedNntp& c) {
    c.nntp.UserId = "fred";
    c.presenter.promptAnswers = {QStringLiteral("secret")};
    c.nntp.OnAuthenticationNeeded = [&c](bool& handled) {
        QString password;
        handled = PromptFor(QStringLiteral("Password"), QStringLiteral("Password for fred"),
                            password);
        c.nntp.Password = password.toLatin1();
    };
}

} // namespace

TEST(NntpSecurity, StartTlsEncryptsAndAsksForTheCapabilitiesAgainBeforeTheLogin) {
    ScriptedNntp c({QByteArray("S: 480 login first\n") + kCapabilitiesWithStartTls +
                    "C: STARTTLS\nS: 382 go ahead\nE:\n"
                    "C: CAPABILITIES\nS: 101 Capability list:\nS: VERSION 2\nS: AUTHINFO USER\n"
                    "S: .\nC: USER fred\nS: 381 more\nC: PASS secret\nS: 281 welcome\n" +
                    script::Group("a.b", 1, 1)},
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
    ScriptedNntp tls({"E:\nS: 200 ready\nC: CAPABILITIES\nS: 500 what?\n" +
                      script::Group("a.b", 1, 1)},
                     TSecurity::Tls);
    tls.nntp.Connect();
    tls.nntp.SetGroup("a.b");
    EXPECT_TRUE(tls.nntp.Capabilities.IsEmpty());
    tls.ExpectScriptPlayed();

    ScriptedNntp plain({script::Greeting() + script::Group("a.b", 1, 1)});
    plain.nntp.Compress = false; // compression would ask for them
    plain.nntp.Connect();
    plain.nntp.SetGroup("a.b");
    EXPECT_TRUE(plain.nntp.EncryptionDescription().isEmpty());
    EXPECT_EQ(plain.server.UnscriptedCapabilities(), 0);
    plain.ExpectScriptPlayed();
}

// Until the chosen security is in place nothing but CAPABILITIES and STARTTLS goes out: a
// negotiation that fails closes the connection without QUIT, so a 480 to it cannot start a
// login, and nobody is asked for a password.
TEST(NntpSecurity, ANegotiationThatFailsSendsNothingMoreAndNeverLogsIn) {
    const QList<QByteArray> capabilitiesOnly = {"CAPABILITIES"};
    const QList<QByteArray> upToStartTls = {"CAPABILITIES", "STARTTLS"};
    const QByteArray offered = QByteArray("S: 200 ready\n") + kCapabilitiesWithStartTls;
    struct Case {
        const char* what;
        TSecurity security;
        QByteArray conversation;
        QList<QByteArray> sent;
        const char* message;
        const char* certificate = "good";
        int timeOut = 10000;
    };
    const Case cases[] = {
        {"not offered", TSecurity::StartTls,
         "S: 200 ready\nC: CAPABILITIES\nS: 101 list\nS: VERSION 2\nS: .\n", capabilitiesOnly,
         "The server does not offer STARTTLS; the connection was closed rather than used "
         "unencrypted"},
        {"no CAPABILITIES", TSecurity::StartTls,
         "S: 200 ready\nC: CAPABILITIES\nS: 500 unknown command\n", capabilitiesOnly,
         "The server does not offer STARTTLS; the connection was closed rather than used "
         "unencrypted"},
        {"refused", TSecurity::StartTls,
         offered + "C: STARTTLS\nS: 580 Can not initiate TLS negotiation\n", upToStartTls,
         "The server refused STARTTLS: 580 Can not initiate TLS negotiation"},
        {"483", TSecurity::StartTls, "S: 480 login first\nC: CAPABILITIES\nS: 483 TLS first\n",
         capabilitiesOnly,
         "The server requires an encrypted connection (483): choose Security TLS (port 563) or "
         "STARTTLS"},
        {"an odd reply", TSecurity::StartTls, offered + "C: STARTTLS\nS: what?\n", upToStartTls,
         "The server refused STARTTLS: what?"},
        // The server never ends its list: only the time-out ends the wait, whenever it fires.
        {"a time-out", TSecurity::StartTls,
         "S: 200 ready\nC: CAPABILITIES\nS: 101 list\nS: STARTTLS\n", capabilitiesOnly,
         "Socket readln aborted", "good", 300},
        {"the server closing", TSecurity::StartTls, "S: 200 ready\nC: CAPABILITIES\nX:\n",
         capabilitiesOnly, "Socket readln aborted"},
        {"a handshake that fails", TSecurity::StartTls,
         offered + "C: STARTTLS\nS: 382 go ahead\nD:\nS: plain text, no TLS\n", upToStartTls,
         "TLS handshake failed: Error during SSL handshake"},
        {"a certificate nobody trusts", TSecurity::StartTls,
         offered + "C: STARTTLS\nS: 382 go ahead\nE:\n", upToStartTls,
         "Server certificate not trusted: ", "otherhost"},
        {"implicit TLS failing", TSecurity::Tls, "E:\nS: 480 login first\n", {},
         "Server certificate not trusted: ", "otherhost"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedNntp c({test.conversation + kLoginLure}, test.security);
        c.server.UseCertificate(QString::fromLatin1(test.certificate));
        c.nntp.TimeOut = test.timeOut;
        PromptForPassword(c);
        const QString message = MessageOf<Exception>([&] { c.nntp.Connect(); });
        EXPECT_TRUE(message.startsWith(QString::fromLatin1(test.message))) << message.toStdString();
        EXPECT_FALSE(c.nntp.Connected);
        ASSERT_TRUE(WaitUntil([&] { return c.server.OpenConnections() == 0; }));
        EXPECT_EQ(c.server.Received(), test.sent);
        EXPECT_TRUE(c.presenter.prompts.isEmpty());
        c.ExpectScriptPlayed();
    }
}

TEST(NntpSecurity, A483ReplySuggestsEncryptionAndNoPasswordFollows) {
    const QString message = QStringLiteral("The server requires an encrypted connection (483): "
                                           "choose Security TLS (port 563) or STARTTLS");
    for (const QByteArray conversation :
         {"S: 200 ready\nC: GROUP a.b\nS: 483 Encryption required",
          "S: 200 ready\nC: GROUP a.b\nS: 480 login first\nC: AUTHINFO USER fred\n"
          "S: 483 Encryption required"}) {
        ScriptedNntp c({conversation});
        c.nntp.UserId = "fred";
        c.nntp.Password = "secret";
        c.nntp.Connect();
        EXPECT_EQ(MessageOf<NNTPError>([&] { c.nntp.SetGroup("a.b"); }), message);
        EXPECT_FALSE(c.nntp.Busy);
        EXPECT_FALSE(c.server.Received().contains("AUTHINFO PASS secret"));
        c.ExpectScriptPlayed();
    }
}
