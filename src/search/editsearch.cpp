#include "search/editsearch.h"

#include "search/searchengine.h"
#include "util/presenter.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <algorithm>

namespace {

const char* const kTagProperty = "Tag";

// A plain text view scrolls by lines, a rich one by pixels.
int ScrollUnitsPerLine(const QPlainTextEdit*, int) {
    return 1;
}
int ScrollUnitsPerLine(const QTextEdit*, int lineHeight) {
    return lineHeight;
}

template <typename Edit> qint32 TextLength(const Edit* control) {
    // The document counts the separator that ends its last paragraph.
    return static_cast<qint32>(control->document()->characterCount() - 1);
}

template <typename Edit> void Select(Edit* control, qint32 position, qint32 length) {
    const qint32 last = TextLength(control);
    position = std::clamp(position, 0, last);
    const qint32 end = std::clamp(position + length, position, last);
    const int lineHeight = std::max(1, control->fontMetrics().height());
    const int thirdOfLines = control->height() / lineHeight / 3;

    QTextCursor cursor = control->textCursor();
    cursor.setPosition(position);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    control->setTextCursor(cursor);
    control->ensureCursorVisible();

    QTextCursor start(control->document());
    start.setPosition(position);
    const int linesBelowTop = control->cursorRect(start).top() / lineHeight;
    const int linesDown = linesBelowTop - thirdOfLines;
    if (linesDown > 0) {
        QScrollBar* bar = control->verticalScrollBar();
        bar->setValue(bar->value() + linesDown * ScrollUnitsPerLine(control, lineHeight));
    }
}

// The document counts positions in UTF-16 code units; the engine's offsets are UTF-8 bytes.
qint32 Utf16Length(QByteArrayView utf8) {
    return static_cast<qint32>(QString::fromUtf8(utf8).size());
}

template <typename Edit>
qint32 Find(Edit* control, qint32 start, const QString& findText, bool wholeWord,
            bool caseSensitive) {
    QByteArray text = WithoutLeadingAsterisks(findText.toUtf8());
    if (text.isEmpty()) {
        return -1;
    }
    QString description;
    if (wholeWord && !HasRegexPrefix(text)) {
        text = QByteArrayLiteral("ZKRE:\\b") + WildcardToRegex(text) + QByteArrayLiteral("\\b");
        description += QStringLiteral("Whole Word ");
    }
    if (caseSensitive) {
        description += QStringLiteral("Case Sensitive ");
    }
    // Each "yes" to the question searches again from the top, until a match or a "no".
    for (;;) {
        if (start < 0 || start >= TextLength(control)) {
            start = 0;
        }
        const QByteArray subject = control->toPlainText().mid(start).toUtf8();
        if (MatchPatternCase(text, subject, caseSensitive, TSubjectCoding::Utf8)) {
            const QByteArrayView before = QByteArrayView(subject).first(LastMatchStart - 1);
            const QByteArrayView match =
                QByteArrayView(subject).sliced(before.size(), LastMatchEnd - before.size());
            const qint32 found = start + Utf16Length(before);
            Select(control, found, Utf16Length(match));
            return found;
        }
        if (LastMatchError || ControlTag(control) == NoQuestionTag ||
            !ConfirmBox(description + QStringLiteral("Search for\r\n") + findText +
                        QStringLiteral("\r\nNo More Found - Start Again From the Top"))) {
            return -1;
        }
        start = 0;
    }
}

} // namespace

int ControlTag(const QWidget* control) {
    return control->property(kTagProperty).toInt();
}

void SetControlTag(QWidget* control, int tag) {
    control->setProperty(kTagProperty, tag);
}

qint32 EditTextLength(const QPlainTextEdit* control) {
    return TextLength(control);
}

qint32 EditTextLength(const QTextEdit* control) {
    return TextLength(control);
}

void ShowSelection(QPlainTextEdit* control, qint32 position, qint32 length) {
    Select(control, position, length);
}

void ShowSelection(QTextEdit* control, qint32 position, qint32 length) {
    Select(control, position, length);
}

qint32 FindInEdit(QPlainTextEdit* control, qint32 start, const QString& findText, bool wholeWord,
                  bool caseSensitive) {
    return Find(control, start, findText, wholeWord, caseSensitive);
}

qint32 FindInEdit(QTextEdit* control, qint32 start, const QString& findText, bool wholeWord,
                  bool caseSensitive) {
    return Find(control, start, findText, wholeWord, caseSensitive);
}
