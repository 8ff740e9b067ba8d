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

template <typename Edit>
qint32 Find(Edit* control, qint32 start, const QString& findText, bool wholeWord,
            bool caseSensitive) {
    QByteArray text = WithoutLeadingAsterisks(SearchBytes(findText));
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
        const QByteArray subject = SearchBytes(control->toPlainText().mid(start));
        if (MatchPatternCase(text, subject, caseSensitive)) {
            const qint32 found = start + LastMatchStart - 1;
            Select(control, found, LastMatchEnd - LastMatchStart + 1);
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
