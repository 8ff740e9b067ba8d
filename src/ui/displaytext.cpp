#include "ui/displaytext.h"

#include "ui/summaryview.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <array>

namespace {

// Windows-1252 at 0x80 to 0x9F; the unassigned 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to the C1
// control characters of the same number, so that every byte survives the round trip.
constexpr std::array<char16_t, 32> kHighControls = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

constexpr unsigned kHighFirst = 0x80;
constexpr unsigned kHighLast = 0x9F;

bool IsBlankOrControl(QChar c) {
    return c.unicode() <= u' ';
}

QChar CharOfByte(unsigned char byte) {
    if (byte >= kHighFirst && byte <= kHighLast) {
        return QChar(kHighControls[byte - kHighFirst]);
    }
    return QChar(static_cast<char16_t>(byte));
}

char ByteOfChar(QChar c) {
    const char16_t code = c.unicode();
    if (code < kHighFirst || (code > kHighLast && code <= 0xFF)) {
        return static_cast<char>(code);
    }
    for (unsigned i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == code) {
            return static_cast<char>(kHighFirst + i);
        }
    }
    return '?';
}

} // namespace

QString DisplayText(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const bool lineEnd = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        if (!lineEnd) {
            text += CharOfByte(static_cast<unsigned char>(bytes[i]));
        }
    }
    return text;
}

QByteArray WireBytes(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size() + text.count(u'\n'));
    for (const QChar c : text) {
        if (c == u'\n') {
            bytes += '\r';
        }
        bytes += ByteOfChar(c);
    }
    return bytes;
}

QString PaneText(const QPlainTextEdit* pane) {
    QString text = pane->document()->toRawText();
    return text.replace(QChar::ParagraphSeparator, u'\n');
}

QString PaneText(const TSummaryView* pane) {
    return pane->Text();
}

QString SelectedPaneText(const QPlainTextEdit* pane) {
    QString text = pane->textCursor().selectedText();
    return text.replace(QChar::ParagraphSeparator, u'\n');
}

QString TrimmedEnd(const QString& text) {
    qsizetype last = text.size();
    while (last > 0 && IsBlankOrControl(text[last - 1])) {
        --last;
    }
    return text.left(last);
}
