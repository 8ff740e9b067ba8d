#pragma once

// The local INN news server that scripts/news-server.sh starts and scripts/news-seed.pl fills
// (articles under scripts/news-articles/), as tests see it: where it listens, who may log in,
// and what each test group holds. Change these facts together with those scripts.
//
// A test that talks to the server starts with ZK_REQUIRE_NEWS_SERVER_OR_SKIP(). Without a
// server the test is skipped with a hint how to start one; with ZK_REQUIRE_NEWS_SERVER=1 in
// the environment (scripts/test.sh sets it) it fails instead, so a run that was meant to use
// the server cannot pass by skipping.

#include <QByteArray>
#include <QString>
#include <QTcpSocket>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <string>

namespace NewsServer {

constexpr char kHost[] = "127.0.0.1";
// innd: readers from 127.0.0.1 need no login, may read every group and post to kPostGroup.
constexpr quint16 kPort = 119;
// nnrpd alone: every command answers 480 until AUTHINFO USER kUser / PASS kPassword.
constexpr quint16 kAuthPort = 1119;
// nnrpd alone with TLS from the first byte; readers as on kPort. kPort and kAuthPort offer
// STARTTLS. The certificate (kServerCertificateFile, for 127.0.0.1 and localhost) is signed by
// the local CA in kCaFile.
constexpr quint16 kTlsPort = 563;
constexpr char kCaFile[] = "/etc/news/zk-tls/ca.pem";
constexpr char kServerCertificateFile[] = "/etc/news/zk-tls/server.pem";
constexpr char kUser[] = "zktest";
constexpr char kPassword[] = "zk-test-pass";
// The server's name in Path and Xref headers ("Xref: news.zk.test zk.test.small:3").
constexpr char kPathHost[] = "news.zk.test";

inline QString HostName() {
    return QString::fromLatin1(kHost);
}

// One seeded article as the server returns it: its number in its group, its Message-ID
// and its Subject (unfolded, still encoded where the article encodes it).
struct SeededArticle {
    const char* group;
    int number;
    const char* messageId;
    const char* subject;
};

// zk.test.small: hand-written articles, one of each kind a reader must cope with.
constexpr char kSmallGroup[] = "zk.test.small";
constexpr int kSmallCount = 14;
constexpr SeededArticle kWelcome{kSmallGroup, 1, "<welcome.1@zk.test>", "Welcome to zk.test.small"};
// A thread of four, interleaved with other articles: 2 <- 3 <- 5 <- 8, each reply's
// References naming all its ancestors.
constexpr SeededArticle kThreadStart{kSmallGroup, 2, "<thread.1@zk.test>",
                                     "How do I read news offline?"};
constexpr SeededArticle kThreadReply1{kSmallGroup, 3, "<thread.2@zk.test>",
                                      "Re: How do I read news offline?"};
constexpr SeededArticle kThreadReply2{kSmallGroup, 5, "<thread.3@zk.test>",
                                      "Re: How do I read news offline?"};
constexpr SeededArticle kThreadReply3{kSmallGroup, 8, "<thread.4@zk.test>",
                                      "Re: How do I read news offline?"};
// Content-Transfer-Encoding: quoted-printable, charset ISO-8859-1, with soft line breaks.
constexpr SeededArticle kQuotedPrintable{kSmallGroup, 4, "<qp.1@zk.test>", "Quoted-printable body"};
constexpr char kQuotedPrintableFirstLine[] = "Caf\xe9 cr\xe8me, s'il vous pla\xeet.";
// Content-Transfer-Encoding: base64; kBase64Text is the decoded body.
constexpr SeededArticle kBase64{kSmallGroup, 6, "<base64.1@zk.test>", "Base64 body"};
constexpr char kBase64Text[] = "This body is Base64 encoded.\r\n"
                               "It decodes to three lines of plain ASCII text\r\n"
                               "that end with CR LF, like every line on the wire.\r\n";
// The Subject header spans two lines; this is it unfolded.
constexpr SeededArticle kFoldedSubject{
    kSmallGroup, 7, "<folded.1@zk.test>",
    "A subject long enough to be folded onto a second header line"};
// Body lines ".profile ...", "..double dot", ".", "..." travel dot-stuffed.
constexpr SeededArticle kDotLines{kSmallGroup, 9, "<dots.1@zk.test>",
                                  "Lines that start with a dot"};
// "begin 644 zk-bytes.bin": a uuencoded file of the 256 byte values 0 to 255 in order
// (AllByteValues()), with text before and after the block.
constexpr SeededArticle kUuencoded{kSmallGroup, 10, "<uuencode.1@zk.test>",
                                   "Uuencoded attachment zk-bytes.bin"};
constexpr char kUuencodedFileName[] = "zk-bytes.bin";
// A References header of 16 Message-IDs, 790 characters, on one line.
constexpr SeededArticle kLongReferences{kSmallGroup, 11, "<longrefs.1@zk.test>",
                                        "Re: An old and very long thread"};
constexpr int kLongReferencesCount = 16;
constexpr int kLongReferencesLength = 790;
// multipart/mixed; boundary="zk-boundary-42": a text part and a Base64 part named
// zk-bytes-mime.bin holding AllByteValues().
constexpr SeededArticle kMultipart{kSmallGroup, 12, "<mime.1@zk.test>",
                                   "MIME multipart with a Base64 attachment"};
constexpr char kMultipartBoundary[] = "zk-boundary-42";
constexpr char kMultipartFileName[] = "zk-bytes-mime.bin";
// Raw 8-bit ISO-8859-1 body; the Subject is an RFC 2047 encoded word.
constexpr SeededArticle kLatin1{kSmallGroup, 13, "<latin1.1@zk.test>",
                                "=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?="};
// Posted to zk.test.small and zk.test.misc: number 14 in the one, 9 in the other.
constexpr SeededArticle kCrosspost{kSmallGroup, 14, "<crosspost.1@zk.test>",
                                   "Crossposted to zk.test.small and zk.test.misc"};
constexpr int kCrosspostMiscNumber = 9;

// zk.test.misc: chatter from several posters, two short threads, the crosspost last.
constexpr char kMiscGroup[] = "zk.test.misc";
constexpr int kMiscCount = 9;
// Says "needle" in several spellings: "needle", "NEEDLE", "needles".
constexpr SeededArticle kNeedles{kMiscGroup, 6, "<misc.6@zk.test>", "Searching with wildcards"};

// zk.test.binaries: uuencoded blocks in their other shapes.
constexpr char kBinariesGroup[] = "zk.test.binaries";
constexpr int kBinariesCount = 3;
// Two "begin 644 zk-twice.txt" blocks, each decoding to kTwiceText.
constexpr SeededArticle kSameNameTwice{kBinariesGroup, 1, "<binaries.1@zk.test>",
                                       "Two attachments with the same name"};
constexpr char kTwiceFileName[] = "zk-twice.txt";
constexpr char kTwiceText[] = "Hello from the ZK test server.\n";
// Two full 61-character data lines with no begin line, decoding to kBareLinesText, then a
// line of text that ends the run.
constexpr SeededArticle kBareLines{kBinariesGroup, 2, "<binaries.2@zk.test>",
                                   "Uuencoded lines without a begin line"};
constexpr char kBareLinesText[] =
    "Ninety bytes of data without a begin line: forty-five bytes a line..xxxxxxxxxxxxxxxxxxxxxx";
// "begin 666 zk-mode666.txt", decoding to kMode666Text.
constexpr SeededArticle kMode666{kBinariesGroup, 3, "<binaries.3@zk.test>",
                                 "Attachment with mode 666"};
constexpr char kMode666FileName[] = "zk-mode666.txt";
constexpr char kMode666Text[] = "Mode 666 is as good as 644.\n";

// zk.test.yenc: yEnc blocks, their data lines starting with "." (dot-stuffed on the wire) or
// "=n", and beginning and ending with escaped TABs and blanks.
constexpr char kYEncGroup[] = "zk.test.yenc";
constexpr int kYEncCount = 3;
// One block, line=128, no "." escaped: zk-yenc-single.bin holds YEncDemoBytes(3000, 3).
constexpr SeededArticle kYEncSingle{kYEncGroup, 1, "<yenc.1@zk.test>",
                                    "yEnc single-part zk-yenc-single.bin (1/1)"};
constexpr char kYEncSingleFileName[] = "zk-yenc-single.bin";
// Parts 1 (bytes 1 to 2560) and 2 (2561 to 5000) of zk-yenc-two-parts.bin, which holds
// YEncDemoBytes(5000, 7).
constexpr SeededArticle kYEncPart1{kYEncGroup, 2, "<yenc.2@zk.test>",
                                   "yEnc two-part \"zk-yenc-two-parts.bin\" yEnc (1/2)"};
constexpr SeededArticle kYEncPart2{kYEncGroup, 3, "<yenc.3@zk.test>",
                                   "yEnc two-part \"zk-yenc-two-parts.bin\" yEnc (2/2)"};
constexpr char kYEncTwoPartsFileName[] = "zk-yenc-two-parts.bin";

// Generated groups: article n has Message-ID <tag.n@zk.test> (GeneratedMessageId) and
// belongs to a thread of five; GeneratedSubject gives its Subject.
constexpr char kManyGroup[] = "zk.test.many";
constexpr char kManyTag[] = "many";
constexpr int kManyCount = 750; // more than the 500 a listing proposes
// Seeded only by "scripts/news-server.sh seed-big" (or ZK_SEED_BIG=1): a benchmark checks
// the count and says how to seed it when it is short.
constexpr char kBigGroup[] = "zk.test.big";
constexpr char kBigTag[] = "big";
constexpr int kBigCount = 100000;

// Where tests post (posting elsewhere answers 441). One seeded article; tests add more, so
// its count only grows.
constexpr char kPostGroup[] = "zk.test.post";
constexpr int kPostSeededCount = 1;

// Carried but empty: GROUP answers "211 0 1 0 zk.test.empty".
constexpr char kEmptyGroup[] = "zk.test.empty";

// zk.test.charsets: articles in the charsets and header encodings real programs write.
constexpr char kCharsetsGroup[] = "zk.test.charsets";
constexpr int kCharsetsCount = 9;
// From "=?UTF-8?Q?Zo=C3=AB?= <zoe@zk.test>", Subject a B-encoded word, 8-bit UTF-8 body.
constexpr SeededArticle kUtf8Article{kCharsetsGroup, 1, "<charsets.1@zk.test>",
                                     "=?UTF-8?B?U2Now7ZuZSBHcsO8w59lIGF1cyBLw7Zsbg==?="};
constexpr char kUtf8Subject[] = "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln";
constexpr char kUtf8FirstLine[] =
    "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 this body is UTF-8 sent as 8-bit text.";
// UTF-8 quoted-printable with a soft line break; a Q-encoded Subject.
constexpr SeededArticle kUtf8QuotedPrintable{kCharsetsGroup, 2, "<charsets.2@zk.test>",
                                             "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_in_quoted=2Dprintable?="};
// KOI8-R 8-bit body, From and Subject B-encoded in KOI8-R.
constexpr SeededArticle kKoi8r{kCharsetsGroup, 3, "<charsets.3@zk.test>",
                               "=?KOI8-R?B?8NLJ18XUIMnaIO3P08vX2Q==?="};
// The first body line read, in UTF-8.
constexpr char kKoi8rFirstLine[] = "Привет, мир! Это письмо в кодировке KOI8-R.";
// ISO-2022-JP body and headers.
constexpr SeededArticle kIso2022jp{kCharsetsGroup, 4, "<charsets.4@zk.test>",
                                   "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkT0AkMyYbKEI=?="};
// ISO-8859-1 text in Base64.
constexpr SeededArticle kLatin1Base64{kCharsetsGroup, 5, "<charsets.5@zk.test>",
                                      "=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln_in_Base64?="};
// A Q word in ISO-8859-1 and a B word in KOI8-R side by side.
constexpr SeededArticle kTwoCharsets{kCharsetsGroup, 6, "<charsets.6@zk.test>",
                                     "=?ISO-8859-1?Q?Gr=FC=DFe?= =?KOI8-R?B?IMkg0NLJ18XU?="};
// A Subject of three UTF-8 encoded words folded over three lines.
constexpr SeededArticle kLongEncodedSubject{
    kCharsetsGroup, 7, "<charsets.7@zk.test>",
    "=?UTF-8?B?RWluIHJlY2h0IGxhbmdlciBCZXRyZWZmIG1pdCBVbWxhdXRlbjogRw==?= ="
    "?UTF-8?B?csO2w59lbsOkbmRlcnVuZywgw5xiZXJzaWNodCwgw4RwZmVsIHVuZA==?= =?"
    "UTF-8?B?IMOWbCDigJQgw7xiZXIgbWVocmVyZSBaZWlsZW4=?="};
// multipart/mixed with the boundary on a continuation line, a UTF-8 text part and a Base64
// part named by "filename*=UTF-8''%C3%9Cbersicht.bin" holding the bytes 0 to 31.
constexpr SeededArticle kRfc2231{kCharsetsGroup, 8, "<charsets.8@zk.test>",
                                 "Folded Content-Type and an RFC 2231 file name"};
constexpr char kRfc2231FileName[] = "\xC3\x9C" "bersicht.bin";
// text/plain; charset=UTF-8; format=flowed.
constexpr SeededArticle kFlowed{kCharsetsGroup, 9, "<charsets.9@zk.test>", "Format=flowed text"};

inline QByteArray GeneratedMessageId(const char* tag, int number) {
    return "<" + QByteArray(tag) + "." + QByteArray::number(number) + "@zk.test>";
}

inline QByteArray GeneratedSubject(const char* group, int number) {
    const int threadStart = number - (number - 1) % 5;
    const QByteArray subject =
        "Topic " + QByteArray::number((threadStart - 1) / 5 + 1) + " in " + QByteArray(group);
    return number == threadStart ? subject : "Re: " + subject;
}

// The content of zk-bytes.bin and zk-bytes-mime.bin.
inline QByteArray AllByteValues() {
    QByteArray bytes(256, '\0');
    for (int value = 0; value < 256; ++value) {
        bytes[value] = static_cast<char>(value);
    }
    return bytes;
}

// The content of the yEnc demo files: of every five bytes, the first three are 0x04, 0xDF and
// 0xF6 ("." , TAB and blank once encoded), the other two run through the byte values by step.
inline QByteArray YEncDemoBytes(int size, int step) {
    static constexpr char kMarked[] = {'\x04', '\xdf', '\xf6'};
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = i % 5 < 3 ? kMarked[i % 5] : static_cast<char>(i * step + i / 256);
    }
    return bytes;
}

// True when the port accepts a connection and greets with 200 or 201 in time.
inline bool Greets(quint16 port, int milliseconds = 3000) {
    QTcpSocket socket;
    socket.connectToHost(HostName(), port);
    if (!socket.waitForConnected(milliseconds)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(milliseconds)) {
            return false;
        }
    }
    const QByteArray greeting = socket.readLine();
    socket.write("QUIT\r\n");
    socket.waitForBytesWritten(milliseconds);
    return greeting.startsWith("200 ") || greeting.startsWith("201 ");
}

inline bool Required() {
    return qEnvironmentVariableIntValue("ZK_REQUIRE_NEWS_SERVER") == 1;
}

inline std::string MissingMessage() {
    return "the local news server does not answer on 127.0.0.1:119 and 127.0.0.1:1119; "
           "start it with: sudo bash scripts/news-server.sh start";
}

} // namespace NewsServer

// Both ports greet; asked once per test program, since every connection costs a process
// on the server.
inline bool NewsServerAvailable() {
    static const bool available =
        NewsServer::Greets(NewsServer::kPort) && NewsServer::Greets(NewsServer::kAuthPort);
    return available;
}

// First statement of a test (or SetUp) that needs the server: skips it, or fails it when
// ZK_REQUIRE_NEWS_SERVER=1, if the server does not answer.
#define ZK_REQUIRE_NEWS_SERVER_OR_SKIP()                                                           \
    do {                                                                                           \
        if (!NewsServerAvailable()) {                                                              \
            if (NewsServer::Required()) {                                                          \
                FAIL() << NewsServer::MissingMessage() << " (ZK_REQUIRE_NEWS_SERVER=1)";           \
            }                                                                                      \
            GTEST_SKIP() << NewsServer::MissingMessage();                                          \
        }                                                                                          \
    } while (false)
