#include "util/edittext.h"

#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

template <typename Edit> void ReplaceWholeText(Edit* control, const QString& text) {
    QTextCursor cursor(control->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
    cursor.endEditBlock();
    cursor.setPosition(0);
    control->setTextCursor(cursor);
    control->ensureCursorVisible();
}

} // namespace

void SetEditText(QPlainTextEdit* control, const QString& text) {
    ReplaceWholeText(control, text);
}

void SetEditText(QTextEdit* control, const QString& text) {
    ReplaceWholeText(control, text);
}
