#include "util/edittext.h"

#include <QPlainTextEdit>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(SetEditText, ReplacesEverythingInOneUndoableStepWithTheCaretAtTheStart) {
    QPlainTextEdit edit;
    edit.setPlainText(u"old text"_s);
    edit.moveCursor(QTextCursor::End);
    SetEditText(&edit, u"first line\nsecond line"_s);
    EXPECT_EQ(edit.toPlainText(), u"first line\nsecond line"_s);
    EXPECT_EQ(edit.textCursor().position(), 0);
    EXPECT_FALSE(edit.textCursor().hasSelection());
    edit.undo();
    EXPECT_EQ(edit.toPlainText(), u"old text"_s);
}

TEST(SetEditText, WorksOnRichTextViewsAsPlainText) {
    QTextEdit edit;
    edit.setPlainText(u"old"_s);
    SetEditText(&edit, u"<b>not bold</b>"_s);
    EXPECT_EQ(edit.toPlainText(), u"<b>not bold</b>"_s);
    EXPECT_EQ(edit.textCursor().position(), 0);
    SetEditText(&edit, QString());
    EXPECT_EQ(edit.toPlainText(), u""_s);
}
