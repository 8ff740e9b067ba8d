#include "ui/bodydisplay.h"

#include "nntp/nntpwire.h"
#include "ui/settingsfiles.h"
#include "util/texthelpers.h"

namespace {

const QByteArray kQuotedPrintableMark =
    QByteArrayLiteral("content-transfer-encoding: quoted-printable");
const QByteArray kBase64Mark = QByteArrayLiteral("content-transfer-encoding: base64");

// The lines the poster wrote: every line but the closing ".", each ended by CR LF.
QByteArray WrittenText(const TStringList& bodyLines) {
    int count = bodyLines.Count();
    if (count > 0 && nntpwire::IsTerminator(bodyLines.Last())) {
        --count;
    }
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        text += bodyLines[i] + QByteArrayLiteral("\r\n");
    }
    return text;
}

// The quoted-printable decoder reads a soft line break followed by two dots as the wire has it,
// a line whose leading dot was doubled for transmission. The lines here came with that dot
// already removed, so it is put back after every soft line break for the decoder to remove.
QByteArray RestuffAfterSoftBreaks(const QByteArray& text) {
    return ReplaceAll(text, QByteArrayLiteral("=\r\n."), QByteArrayLiteral("=\r\n.."), true);
}

} // namespace

QByteArray BodyForDisplay(const QByteArray& headerText, const TStringList& bodyLines) {
    QByteArray text = TrimBlanksAndControls(WrittenText(bodyLines));
    const QByteArray header = headerText.toLower();
    if (header.contains(kQuotedPrintableMark) || text.toLower().contains(kQuotedPrintableMark)) {
        text = DecodeQuotedPrintable(RestuffAfterSoftBreaks(text));
    }
    if (header.contains(kBase64Mark)) {
        const QByteArray decoded = DecodeBase64Text(text);
        if (!decoded.isEmpty()) {
            return decoded;
        }
    }
    return text;
}
