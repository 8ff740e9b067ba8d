// COMPRESS DEFLATE (RFC 8054) against the fake server: when the client asks, what goes out
// before, and what a refusal or a broken stream does.
#include "nntp/qrnntp.h"

#include "scriptedclient.h"
#include "testhelpers.h"
#include "wait.h"

#include <gtest/gtest.h>

namespace {

QByteArray CapabilitiesListing(const QByteArray& compressLine) {
    QByteArray lines = "C: CAPABILITIES\nS: 101 Capability list:\nS: VERSION 2\nS: READER\n";
    if (!compressLine.isEmpty()) {
        lines += "S: " + compressLine + '\n';
    }
    return lines + "S: .\n";
}

const QByteArray kOffered = CapabilitiesListing("COMPRESS DEFLATE");
const QByteArray kAgreed = "C: COMPRESS DEFLATE\nS: 206 Compression active\nZ:\n";

// The compression failures the client reports, as "code: message".
struct CompressionEvents {
    QStringList failures;
    QStringList statuses;

    void Watch(TQRNNTP& nntp) {
        nntp.ReportLevel = 1;
        nntp.OnCompressionFailed = [this](QObject*, quint16 code, const QString& message) {
            failures << QString::number(code) + QStringLiteral(": ") + message;
        };
        nntp.OnStatus = [this](QObject*, const QString& status) { statuses << status; };
    }
};

} // namespace

TEST(NntpCompress, AskedAfterTheCapabilitiesOnlyWhenOfferedAndWanted) {
    struct Case {
        const char* name;
        bool compress;
        TSecurity security;
        QByteArray afterGreeting;
        QList<QByteArray> sent;
        bool compressed;
    };
    const Case cases[] = {
        {"offered", true, TSecurity::None, kOffered + kAgreed,
         {"CAPABILITIES", "COMPRESS DEFLATE", "GROUP a.b"}, true},
        {"offered among other methods", true, TSecurity::None,
         CapabilitiesListing("compress gzip deflate") + kAgreed,
         {"CAPABILITIES", "COMPRESS DEFLATE", "GROUP a.b"}, true},
        {"offered inside TLS", true, TSecurity::Tls, kOffered + kAgreed,
         {"CAPABILITIES", "COMPRESS DEFLATE", "GROUP a.b"}, true},
        {"not in the capabilities", true, TSecurity::None, CapabilitiesListing(""),
         {"CAPABILITIES", "GROUP a.b"}, false},
        {"another method only", true, TSecurity::None, CapabilitiesListing("COMPRESS GZIP"),
         {"CAPABILITIES", "GROUP a.b"}, false},
        {"no capabilities", true, TSecurity::None, "C: CAPABILITIES\nS: 500 What?\n",
         {"CAPABILITIES", "GROUP a.b"}, false},
        {"not wanted", false, TSecurity::None, "", {"GROUP a.b"}, false},
        {"not wanted, inside TLS", false, TSecurity::Tls, kOffered, {"CAPABILITIES", "GROUP a.b"},
         false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QByteArray opening = test.security == TSecurity::Tls ? "E:\n" : "";
        ScriptedNntp c({opening + script::Greeting() + test.afterGreeting +
                        script::Group("a.b", 1, 3)},
                       test.security);
        c.nntp.Compress = test.compress;
        c.nntp.Connect();
        c.nntp.SetGroup("a.b");
        EXPECT_EQ(c.nntp.LastArticleNo, 3);
        EXPECT_EQ(c.nntp.Compressed(), test.compressed);
        EXPECT_EQ(c.nntp.Encrypted(), test.security == TSecurity::Tls);
        EXPECT_EQ(c.server.Received(), test.sent);
        EXPECT_EQ(c.server.UnscriptedCapabilities(), 0);
        c.ExpectScriptPlayed();
    }
}

TEST(NntpCompress, NeverBeforeTheLoginWhoseLinesGoOutUncompressed) {
    // The fake server matches USER and PASS before its Z: step: compressed, they would not
    // match. A 480 to COMPRESS puts it off until the login the 480 of a command starts.
    struct Case {
        const char* name;
        QByteArray conversation;
        QList<QByteArray> sent;
    };
    const Case cases[] = {
        {"the greeting asks for the login",
         "S: 381 login please\n" + kOffered +
             "C: USER fred\nS: 381 password\nC: PASS secret\nS: 281 welcome\n" + kAgreed,
         {"CAPABILITIES", "USER fred", "PASS secret", "COMPRESS DEFLATE", "GROUP a.b"}},
        {"the capabilities offer a login",
         script::Greeting() + CapabilitiesListing("COMPRESS DEFLATE\nS: AUTHINFO USER") +
             "C: GROUP a.b\nS: 480 login first\n"
             "C: AUTHINFO USER fred\nS: 381 password\nC: AUTHINFO PASS secret\nS: 281 welcome\n" +
             kAgreed,
         {"CAPABILITIES", "GROUP a.b", "AUTHINFO USER fred", "AUTHINFO PASS secret",
          "COMPRESS DEFLATE", "GROUP a.b"}},
        {"COMPRESS answered 480",
         script::Greeting() + kOffered +
             "C: COMPRESS DEFLATE\nS: 480 login first\nC: GROUP a.b\nS: 480 login first\n"
             "C: AUTHINFO USER fred\nS: 381 password\nC: AUTHINFO PASS secret\nS: 281 welcome\n" +
             kAgreed,
         {"CAPABILITIES", "COMPRESS DEFLATE", "GROUP a.b", "AUTHINFO USER fred",
          "AUTHINFO PASS secret", "COMPRESS DEFLATE", "GROUP a.b"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedNntp c({test.conversation + script::Group("a.b", 1, 3)});
        c.nntp.UserId = "fred";
        c.nntp.Password = "secret";
        CompressionEvents events;
        events.Watch(c.nntp);
        c.nntp.Connect();
        c.nntp.SetGroup("a.b");
        EXPECT_EQ(c.nntp.LastArticleNo, 3);
        EXPECT_TRUE(c.nntp.Compressed());
        EXPECT_EQ(c.server.Received(), test.sent);
        EXPECT_TRUE(events.failures.isEmpty()) << events.failures.join(u'\n').toStdString();
        c.ExpectScriptPlayed();
    }
}

TEST(NntpCompress, ARefusalIsReportedAndTheConnectionGoesOnUncompressed) {
    struct Case {
        const char* reply;
        quint16 code;
    };
    const Case cases[] = {{"403 Unable to activate compression", 403},
                          {"502 Command unavailable", 502},
                          {"500 What?", 500}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.reply);
        ScriptedNntp c({script::Greeting() + kOffered + "C: COMPRESS DEFLATE\nS: " +
                        test.reply + '\n' + script::Group("a.b", 1, 3)});
        CompressionEvents events;
        events.Watch(c.nntp);
        c.nntp.Connect();
        c.nntp.SetGroup("a.b");
        EXPECT_EQ(c.nntp.LastArticleNo, 3);
        EXPECT_FALSE(c.nntp.Compressed());
        const QString told = QStringLiteral("The server refused compression (") +
                             QLatin1String(test.reply) +
                             QStringLiteral("); the connection goes on uncompressed");
        EXPECT_TRUE(events.statuses.contains(told)) << events.statuses.join(u'\n').toStdString();
        EXPECT_EQ(events.failures, QStringList{QString::number(test.code) + QStringLiteral(": ") + told});
        c.ExpectScriptPlayed();
    }
}

TEST(NntpCompress, DataThatDoesNotInflateDropsTheConnectionWithAClearError) {
    struct Case {
        const char* name;
        QByteArray afterAgreement;
        const char* error;
    };
    const Case cases[] = {
        // Told by Connect when the bytes came with the 206, else by the next command.
        {"garbage right behind the 206", "R: \\xff\\xfe\\xfd\\xfc\\xfb\n",
         "Compressed data from the server does not inflate: invalid block type"},
        {"garbage for the reply to GROUP", "C: GROUP a.b\nR: \\xff\\xfe\\xfd\\xfc\\xfb\n",
         "Compressed data from the server does not inflate: invalid block type"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedNntp c({script::Greeting() + kOffered + kAgreed + test.afterAgreement});
        CompressionEvents events;
        events.Watch(c.nntp);
        const QString error = MessageOf<NNTPError>([&] {
            c.nntp.Connect();
            c.nntp.SetGroup("a.b");
        });
        EXPECT_EQ(error, QString::fromLatin1(test.error));
        EXPECT_EQ(events.failures, QStringList{QStringLiteral("0: ") + error});
        EXPECT_FALSE(c.nntp.Connected);
        EXPECT_FALSE(c.nntp.Compressed());
        ASSERT_TRUE(WaitUntil([&] { return c.server.OpenConnections() == 0; }));
        EXPECT_FALSE(c.server.Received().contains("QUIT"));
        c.ExpectScriptPlayed();
    }
}

TEST(NntpCompress, AServerGoingAwayMidStreamIsNoCompressionFailure) {
    // Nothing to remember against compression: the connection ended, as a plain one can.
    ScriptedNntp c({script::Greeting() + kOffered + kAgreed +
                    "C: GROUP a.b\nR: \\x00\\x20\\x00\\xdf\\xff211 3\nX:\n"});
    CompressionEvents events;
    events.Watch(c.nntp);
    c.nntp.Connect();
    EXPECT_EQ(MessageOf<EAbortError>([&] { c.nntp.SetGroup("a.b"); }),
              QStringLiteral("Socket readln aborted"));
    EXPECT_FALSE(c.nntp.Connected);
    EXPECT_TRUE(events.failures.isEmpty()) << events.failures.join(u'\n').toStdString();
    c.ExpectScriptPlayed();
}

TEST(NntpCompress, CompressedBytesWithoutAgreementAreAGarbledReply) {
    // What a server that compresses without having said 206 sends for "211 3 1 3 a.b": the line
    // deflated (zlib, raw, flushed), and the same bytes as they may come with a line end among
    // them. The connection is dropped either way, never a GROUP taken as selected.
    const QByteArray deflated211 =
        "\\x32\\x32\\x34\\x54\\x30\\x56\\x00\\xe1\\x44\\xbd\\x24\\x5e\\x2e\\x00\\x00\\x00"
        "\\x00\\xff\\xff";
    struct Case {
        const char* name;
        QByteArray reply;
        QString error;
    };
    const Case cases[] = {
        {"a line end among the bytes", deflated211 + "\\x0a",
         QStringLiteral("Garbled reply from the server to GROUP: no status code")},
        // Bytes without a line end can be the start of any line: only the time-out ends them.
        {"no line end", deflated211, QStringLiteral("Socket readln aborted")},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedNntp c({script::Greeting() + "C: GROUP a.b\nR: " + test.reply + '\n'});
        c.nntp.Compress = false;
        c.nntp.TimeOut = 600;
        c.nntp.Connect();
        EXPECT_EQ(MessageOf<Exception>([&] { c.nntp.SetGroup("a.b"); }), test.error);
        EXPECT_FALSE(c.nntp.Connected);
        EXPECT_NE(c.events.last(), QStringLiteral("group"));
        c.ExpectScriptPlayed();
    }
}
