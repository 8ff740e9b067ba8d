#pragma once

#include "util/stringlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// An article as a reader reads it, built from what the news client retrieved: the header
// fields unfolded, the body without the "." that closed the reply, and the body's MIME
// structure with each part's transfer encoding undone. Widget-free; every view of an article
// (the window's panes, its caches, the scans, the command line) takes its text from here.

struct THeaderField {
    QByteArray name;
    // Unfolded (the line breaks of folding removed, the blanks kept), bytes as sent.
    QByteArray value;
};

// One part of the body: the whole body of a single-part article, or one part of a multipart
// one (RFC 2046, section 5.1), with its own header.
struct TArticlePart {
    QList<THeaderField> header;
    // The media type in lower case ("text/plain"); when the header names none, text/plain, or
    // message/rfc822 in a multipart/digest.
    QByteArray mediaType;
    // The charset parameter as declared (quotes removed); empty when none is declared.
    QByteArray charset;
    // Content-Transfer-Encoding in lower case ("base64"); empty when none is declared.
    QByteArray transferEncoding;
    // The file name the part declares (Content-Disposition's filename, else Content-Type's
    // name, RFC 2231 forms included), as bytes of the declared charset; empty when none.
    QByteArray fileName;
    // The part's lines as they came, each ended by CR LF.
    QByteArray encoded;
    // The content with the transfer encoding (7bit, 8bit, binary, quoted-printable, base64,
    // x-uuencode) undone; the lines as they came when the encoding is unknown or the content
    // does not decode. The line end before the delimiter line that follows a part belongs to
    // that line (RFC 2046, section 5.1.1), not to the content.
    QByteArray content;
    // The part declares a transfer encoding other than 7bit, 8bit and binary, and content
    // holds the lines as they came: the encoding is unknown or the content does not decode.
    bool undecodable = false;

    bool IsText() const { return mediaType.startsWith("text/"); }
    // A part that attachment extraction saves as a file: neither text nor an article
    // (message/rfc822, such as the parts of a digest), which a reader reads in the body.
    bool IsAttachment() const { return !IsText() && mediaType != "message/rfc822"; }
    // Content in the part's charset, a format=flowed text (RFC 3676) joined into its
    // paragraphs. An unknown charset is read as undeclared bytes and clears *charsetKnown.
    QString Text(bool* charsetKnown = nullptr) const;
};

class TDecodedArticle {
public:
    // headerLines and bodyLines as the client fills HeaderLines and BodyLines: the header may
    // end with the empty line or the "." line and carry the client's "ArtId" item; the body may
    // end with the "." line. Either may be empty (a HEAD or BODY retrieval).
    TDecodedArticle(const TStringList& headerLines, const TStringList& bodyLines);

    // The header lines as they came, each ended by CR LF, without the line that ended the
    // header and without the client's "ArtId" item.
    const QByteArray& Header() const { return header_; }
    const QList<THeaderField>& Fields() const { return fields_; }

    // The body lines, each ended by CR LF, without the closing ".".
    const QByteArray& Body() const { return body_; }
    // The body's media type as the header declares it, in lower case; text/plain when none.
    const QByteArray& MediaType() const { return mediaType_; }
    // True when the body was read as a multipart: declared one, with a delimiter line in it.
    bool IsMultipart() const { return multipart_; }
    // The parts that are no multipart themselves, in their order in the body, at any depth of
    // nesting (a multipart/alternative or a digest inside a multipart/mixed).
    const QList<TArticlePart>& Parts() const { return parts_; }

    // The body as it reads: the text of each text part in its charset, any other part as its
    // lines came, parts separated by an empty line; lines end with CR LF. The charset of the
    // first part whose charset neither Qt nor iconv knows lands in unknownCharset.
    QString BodyText(QByteArray* unknownCharset = nullptr) const;

private:
    QByteArray header_;
    QList<THeaderField> fields_;
    QByteArray body_;
    QByteArray mediaType_;
    bool multipart_ = false;
    QList<TArticlePart> parts_;
};

// The media type a Content-Type value names ("text/plain; charset=x" names text/plain), in lower
// case; defaultType when it names none.
QByteArray MediaTypeOf(const QByteArray& contentType,
                       const QByteArray& defaultType = QByteArrayLiteral("text/plain"));

// The value as a reader sees it: encoded words decoded, unless the field holds identifiers.
QString FieldDisplayValue(QByteArrayView name, QByteArrayView value);

// The header lines of a retrieval as the header pane shows them: line by line as they came,
// except that a field holding encoded words is shown decoded on one line. Lines end with CR LF.
QString HeaderDisplayText(const TStringList& headerLines);
