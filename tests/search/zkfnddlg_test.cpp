#include "modal.h"
#include "search/searchengine.h"
#include "search/zkfnddlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class FindDialog : public ::testing::Test {
protected:
    ~FindDialog() override { dialog.hide(); }

    void Type(const QString& text) { QTest::keyClicks(dialog.fndtxt->lineEdit(), text); }
    QString Text() const { return dialog.fndtxt->currentText(); }
    QStringList History() const {
        QStringList items;
        for (int i = 0; i < dialog.fndtxt->count(); ++i) {
            items += dialog.fndtxt->itemText(i);
        }
        return items;
    }
    // Shows the dialog modally with text typed into it, then runs finish on it.
    int Run(const QString& text, const std::function<void(Tzkfind*)>& finish) {
        WhenModal<Tzkfind>([text, finish](Tzkfind* shown) {
            shown->fndtxt->setEditText(text);
            finish(shown);
        });
        return dialog.exec();
    }

    Tzkfind dialog;
};

} // namespace

TEST_F(FindDialog, StartsCollapsedWithItsDefaults) {
    EXPECT_EQ(dialog.windowTitle(), u"Find :-"_s);
    EXPECT_EQ(dialog.width(), 539);
    EXPECT_EQ(dialog.height(), Tzkfind::kCollapsedHeight);
    EXPECT_EQ(dialog.Label1->text(), u"Text to Find :-"_s);
    EXPECT_EQ(dialog.mtchcase->text(), u"Match &Case"_s);
    EXPECT_EQ(dialog.mtchwhwrd->text(), u"Match &Whole Word"_s);
    EXPECT_EQ(dialog.regexp->text(), u"&Regular Expression"_s);
    EXPECT_FALSE(dialog.mtchcase->isChecked() || dialog.mtchwhwrd->isChecked() ||
                 dialog.regexp->isChecked());
    EXPECT_TRUE(dialog.dirgrp->isHidden());
    EXPECT_EQ(dialog.dirgrp->ItemIndex(), 1);
    EXPECT_EQ(dialog.dirgrp->title(), u"Direction :-"_s);
    EXPECT_EQ(dialog.fndtxt->maxVisibleItems(), 25);
    EXPECT_EQ(dialog.Label2->text(), u"Regular Expression Syntax :-"_s);
    EXPECT_TRUE(dialog.Memox->isReadOnly());
}

TEST_F(FindDialog, TypingThePrefixInAnyCaseChecksRegexpAndUnfoldsTheHelp) {
    dialog.show();
    Type(u"ZKRE:"_s);
    EXPECT_TRUE(dialog.regexp->isChecked());
    EXPECT_EQ(dialog.height(), Tzkfind::kExpandedHeight);
    Type(u"a.b"_s);
    dialog.regexp->click();
    EXPECT_EQ(Text(), u"a.b"_s);
    EXPECT_EQ(dialog.height(), Tzkfind::kCollapsedHeight);
}

TEST_F(FindDialog, CheckingRegexpAddsThePrefixAndUncheckingRemovesIt) {
    dialog.show();
    Type(u"abc"_s);
    dialog.regexp->click();
    EXPECT_EQ(Text(), u"zkre:abc"_s);
    EXPECT_EQ(dialog.height(), Tzkfind::kExpandedHeight);
    dialog.regexp->click();
    EXPECT_EQ(Text(), u"abc"_s);
    EXPECT_EQ(dialog.height(), Tzkfind::kCollapsedHeight);
}

TEST_F(FindDialog, WholeWordAndRegularExpressionExcludeEachOther) {
    dialog.show();
    Type(u"zkre:x.y"_s);
    ASSERT_TRUE(dialog.regexp->isChecked());
    dialog.mtchwhwrd->click();
    EXPECT_FALSE(dialog.regexp->isChecked());
    EXPECT_EQ(Text(), u"x.y"_s);
    EXPECT_EQ(dialog.height(), Tzkfind::kCollapsedHeight);
    dialog.regexp->click();
    EXPECT_FALSE(dialog.mtchwhwrd->isChecked());
    EXPECT_EQ(Text(), u"zkre:x.y"_s);
}

TEST_F(FindDialog, APrefixTypedByHandLeavesWholeWordChecked) {
    dialog.show();
    dialog.mtchwhwrd->click();
    Type(u"zkre:a"_s);
    EXPECT_TRUE(dialog.regexp->isChecked());
    EXPECT_TRUE(dialog.mtchwhwrd->isChecked());
}

TEST_F(FindDialog, ShowingFocusesTheTextAndResynchronisesWithItsPrefix) {
    dialog.fndtxt->blockSignals(true);
    dialog.fndtxt->setEditText(u"Zkre:^Re"_s);
    dialog.fndtxt->blockSignals(false);
    ASSERT_FALSE(dialog.regexp->isChecked());
    bool focused = false;
    bool checked = false;
    int height = 0;
    Run(u"Zkre:^Re"_s, [&](Tzkfind* shown) {
        // The focus widget, not hasFocus(): the window may not be active yet on a busy machine.
        focused = shown->focusWidget() == shown->fndtxt;
        checked = shown->regexp->isChecked();
        height = shown->height();
        shown->BitBtn2->click();
    });
    EXPECT_TRUE(focused);
    EXPECT_TRUE(checked);
    EXPECT_EQ(height, Tzkfind::kExpandedHeight);
}

TEST_F(FindDialog, OkWithAnEmptyTextKeepsTheDialogOpen) {
    bool stillOpen = false;
    const int result = Run(QString(), [&](Tzkfind* shown) {
        shown->BitBtn1->click();
        stillOpen = shown->isVisible();
        shown->BitBtn2->click();
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(History().isEmpty());
}

TEST_F(FindDialog, OkRemembersTheTextSortedAndOnceRegardlessOfCase) {
    EXPECT_EQ(Run(u"foo"_s, [](Tzkfind* shown) { shown->BitBtn1->click(); }), 1);
    EXPECT_EQ(Run(u"Bar"_s, [](Tzkfind* shown) { shown->BitBtn1->click(); }), 1);
    EXPECT_EQ(Run(u"Foo"_s, [](Tzkfind* shown) { shown->BitBtn1->click(); }), 1);
    EXPECT_EQ(Text(), u"Foo"_s);
    EXPECT_EQ(Run(u"cancelled"_s, [](Tzkfind* shown) { shown->BitBtn2->click(); }),
              QDialog::Rejected);
    EXPECT_EQ(History(), QStringList({u"Bar"_s, u"foo"_s}));
}

TEST_F(FindDialog, EnterInTheFindTextConfirms) {
    const int result = Run(u"needle"_s, [](Tzkfind* shown) {
        QTest::keyClick(shown->fndtxt->lineEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(History(), QStringList({u"needle"_s}));
}

TEST_F(FindDialog, ClickingADirectionReturnsTheFocusToTheText) {
    dialog.dirgrp->show();
    dialog.show();
    dialog.activateWindow();
    // Returns once the dialog is active; the bound is wide for a busy machine.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 30000));
    auto* up = dialog.dirgrp->findChildren<QRadioButton*>().at(0);
    up->setFocus();
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(dialog.dirgrp->ItemIndex(), 0);
    EXPECT_TRUE(dialog.fndtxt->hasFocus());
}

TEST(RegexHelpText, SectionsAreSeparatedAndTheUngreedySampleHolds) {
    const QString help = RegexHelpText();
    EXPECT_EQ(help.count(u"\n================================="_s + u'\n'), 5);
    EXPECT_TRUE(help.contains(u" *\tMatch 0 or more times (equivalent to {0,})\n"_s));
    EXPECT_TRUE(help.contains(u" (?U)\tmatch a minimum amount of characters (default)\n"_s));
    const QByteArray address = "jo.bloggs@example.com"_ba;
    ASSERT_TRUE(MatchPattern("zkre:[\\w.'%+-]+@([\\w-]+\\.)+[A-Za-z]{2,4}"_ba, address));
    EXPECT_EQ(address.left(LastMatchEnd), "jo.bloggs@example.co"_ba);
    ASSERT_TRUE(MatchPattern("zkre:(?-U)[\\w.'%+-]+@([\\w-]+\\.)+[A-Za-z]{2,4}"_ba, address));
    EXPECT_EQ(address.left(LastMatchEnd), "jo.bloggs@example.com"_ba);
    EXPECT_TRUE(help.contains(u"finds jo.bloggs@example.co\n"_s));
    EXPECT_TRUE(help.contains(u"finds jo.bloggs@example.com\n"_s));
}
