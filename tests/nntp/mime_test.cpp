// Attachment extraction from MIME articles: the parts at every depth of nesting, each saved
// with exactly the bytes its transfer encoding gives, and text staying in the body.
#include "scriptedclient.h"
#include "testhelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <map>

namespace {

// File names and their bytes.
using TFiles = std::map<QByteArray, QByteArray>;

// Every file in the directory, by name, with its bytes.
TFiles FilesIn(const QString& path) {
    TFiles files;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile file(dir.filePath(name));
        files[name.toLocal8Bit()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    return files;
}

// Reads article 1 (header and body lines separated by LF) with attachment extraction into a
// temporary directory.
struct TExtraction {
    QTemporaryDir dir;
    ScriptedNntp client;

    TExtraction(const QByteArray& header, const QByteArray& body)
        : client({script::Greeting() + script::Article(1, header, body)}) {
        client.nntp.ParseAttachments = true;
        client.nntp.SetAttachmentPath(dir.path());
        client.nntp.Connect();
        client.nntp.GetArticle(1);
        client.ExpectScriptPlayed();
    }
    QByteArray Body() const { return client.nntp.BodyLines.Text(); }
    QByteArray Marking(const char* name) const {
        return "\r\nFile \"" + (dir.path() + u'/' + QLatin1String(name)).toLocal8Bit() +
               "\" extracted";
    }
};

const QByteArray kMixed = "Content-Type: multipart/mixed; boundary=outer";

} // namespace

TEST(NntpMime, EveryPartAtEveryDepthIsSavedWithTheBytesItsEncodingGives) {
    const QByteArray signature = "-----BEGIN PGP SIGNATURE-----\r\n\r\niQEz\r\n=AbCd\r\n"
                                 "-----END PGP SIGNATURE-----";
    const struct {
        const char* shape;
        QByteArray header;
        QByteArray body;
        TFiles files;
    } cases[] = {
        {"a multipart/mixed inside a multipart/mixed", kMixed,
         "--outer\nContent-Type: text/plain\n\nintro\n--outer\n"
         "Content-Type: multipart/mixed; boundary=inner\n\n--inner\n"
         "Content-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n"
         "\nAAEC\n--inner\nContent-Type: image/png; name=b.png\n"
         "Content-Transfer-Encoding: base64\n\niVBORw==\n--inner--\n--outer--",
         {{"a.bin", QByteArray("\x00\x01\x02", 3)}, {"b.png", "\x89PNG"}}},
        {"a multipart/alternative beside an attachment", kMixed,
         "--outer\nContent-Type: multipart/alternative; boundary=alt\n\n--alt\n"
         "Content-Type: text/plain\n\nplain\n--alt\nContent-Type: text/html\n\n<p>html</p>\n"
         "--alt--\n--outer\nContent-Type: application/zip; name=c.zip\n"
         "Content-Transfer-Encoding: BASE64\n\nUEsDBA==\n--outer--",
         {{"c.zip", "PK\x03\x04"}}},
        {"a digest, whose parts are articles", kMixed,
         "--outer\nContent-Type: multipart/digest; boundary=dig\n\n--dig\n\n"
         "From: a@zk.test\nSubject: one\n\nfirst\n--dig\n\nFrom: b@zk.test\nSubject: two\n\n"
         "second\n--dig--\n--outer\nContent-Type: text/x-diff; name=d.diff\n\n+x\n--outer--",
         {}},
        {"a part without header fields, which is text/plain", kMixed,
         "--outer\n\nno header\n--outer\nContent-Type: application/pdf; name=e.pdf\n"
         "Content-Transfer-Encoding: 8bit\n\n%PDF-1.4\n--outer--",
         {{"e.pdf", "%PDF-1.4"}}},
        {"a detached signature without a transfer encoding",
         "Content-Type: multipart/signed; boundary=sig; protocol=\"application/pgp-signature\"",
         "--sig\nContent-Type: text/plain\n\nsigned text\n--sig\n"
         "Content-Type: application/pgp-signature; name=signature.asc\n\n" +
             QByteArray(signature).replace("\r\n", "\n") + "\n--sig--\n",
         {{"signature.asc", signature}}},
        {"quoted-printable and uuencoded attachments", kMixed,
         "--outer\nContent-Type: application/x-ini; name=f.ini\n"
         "Content-Transfer-Encoding: Quoted-Printable\n\nkey=3Dvalue=\n--outer\n"
         "Content-Type: application/octet-stream; name=g.bin\n"
         "Content-Transfer-Encoding: X-UUENCODE\n\nbegin 644 g.bin\n#86)C\n`\nend\n--outer--",
         {{"f.ini", "key=value"}, {"g.bin", "abc"}}},
        {"a part that ends the article without a close delimiter", kMixed,
         "--outer\nContent-Type: application/octet-stream; name=h.txt\n\nline 1\nline 2",
         {{"h.txt", "line 1\r\nline 2\r\n"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        TExtraction extraction(c.header, c.body);
        EXPECT_EQ(FilesIn(extraction.dir.path()), c.files);
        EXPECT_TRUE(extraction.client.nntp.AttachmentProblems.isEmpty());
    }
}

TEST(NntpMime, TextAtAnyDepthStaysInTheBodyAndAPartThatDoesNotDecodeIsKeptAsItCame) {
    TExtraction nested(kMixed, "preamble\n--outer\n\nno header\n--outer\n"
                               "Content-Type: multipart/alternative; boundary=alt\n\n--alt\n"
                               "Content-Type: text/plain\n\nplain\n--alt--\n--outer\n"
                               "Content-Type: application/octet-stream; name=a.bin\n"
                               "Content-Transfer-Encoding: base64\n\nAAEC\n--outer--\nepilogue");
    EXPECT_EQ(nested.Body(), "no header\r\nplain\r\n" + nested.Marking("a.bin") + "\r\n.\r\n");

    TExtraction broken(kMixed, "--outer\nContent-Type: application/octet-stream; name=z.bin\n"
                               "Content-Transfer-Encoding: base64\n\nnot base64!\n--outer--");
    EXPECT_EQ(FilesIn(broken.dir.path()), (TFiles{{"z.bin", "not base64!"}}));
    EXPECT_EQ(broken.client.nntp.AttachmentProblems,
              QStringList(QStringLiteral(
                  "The base64 encoding of z.bin does not decode; the file is kept as it came")));
}
