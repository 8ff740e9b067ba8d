#include "modal.h"
#include "util/zkgrabstr.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList History(const Tzkgrabstr& dialog) {
    QStringList items;
    for (int i = 0; i < dialog.Edit1->count(); ++i) {
        items += dialog.Edit1->itemText(i);
    }
    return items;
}

// PromptFor with the user typing entry and pressing OK, or Cancel when entry is nullopt.
bool Answer(Tzkgrabstr& dialog, QString& value, std::optional<QString> entry) {
    WhenModal<Tzkgrabstr>([entry](Tzkgrabstr* shown) {
        if (entry) {
            shown->Edit1->setEditText(*entry);
            shown->BitBtn1->click();
        } else {
            shown->BitBtn2->click();
        }
    });
    return dialog.PromptFor(u"Caption"_s, u"Prompt :-"_s, value);
}

} // namespace

TEST(Tzkgrabstr, ShowsCaptionPromptAndValueAndConfirmsTheEntry) {
    Tzkgrabstr dialog;
    QString value = u"4500"_s;
    QString seenCaption;
    QString seenPrompt;
    QString seenEntry;
    bool entryFocusedAndSelected = false;
    WhenModal<Tzkgrabstr>([&](Tzkgrabstr* shown) {
        seenCaption = shown->windowTitle();
        seenPrompt = shown->Label1->text();
        seenEntry = shown->Edit1->currentText();
        entryFocusedAndSelected = shown->Edit1->lineEdit()->selectedText() == u"4500"_s;
        shown->Edit1->setEditText(u"4600"_s);
        shown->BitBtn1->click();
    });
    EXPECT_TRUE(dialog.PromptFor(u"Start at Posting Number"_s, u"Enter a Number :-"_s, value));
    EXPECT_EQ(seenCaption, u"Start at Posting Number"_s);
    EXPECT_EQ(seenPrompt, u"Enter a Number :-"_s);
    EXPECT_EQ(seenEntry, u"4500"_s);
    EXPECT_TRUE(entryFocusedAndSelected);
    EXPECT_EQ(value, u"4600"_s);
    EXPECT_EQ(History(dialog), QStringList({u"4600"_s, u"4500"_s}));
}

TEST(Tzkgrabstr, CancelLeavesTheValueButTheProposedValueIsRemembered) {
    Tzkgrabstr dialog;
    QString value = u"proposed"_s;
    EXPECT_FALSE(Answer(dialog, value, std::nullopt));
    EXPECT_EQ(value, u"proposed"_s);
    EXPECT_EQ(History(dialog), QStringList({u"proposed"_s}));
}

TEST(Tzkgrabstr, HistoryKeepsNoEmptyNoOverlongAndNoCaseDuplicateEntries) {
    Tzkgrabstr dialog;
    QString value;
    EXPECT_TRUE(Answer(dialog, value, u"News.Example.com"_s));
    value = u"news.example.COM"_s;
    EXPECT_TRUE(Answer(dialog, value, u"NEWS.example.com"_s));
    EXPECT_EQ(value, u"NEWS.example.com"_s);
    EXPECT_TRUE(Answer(dialog, value, u""_s));
    EXPECT_EQ(value, u""_s);
    const QString longest = QString(4095, u'x');
    const QString tooLong = QString(4096, u'y');
    value.clear();
    EXPECT_TRUE(Answer(dialog, value, tooLong));
    EXPECT_EQ(value, tooLong);
    value.clear();
    EXPECT_TRUE(Answer(dialog, value, longest));
    EXPECT_EQ(History(dialog), QStringList({longest, u"News.Example.com"_s}));
}

TEST(Tzkgrabstr, DeleteRemovesTheHighlightedEntryOnlyWhileTheListIsOpen) {
    Tzkgrabstr dialog;
    dialog.Remember(u"three"_s);
    dialog.Remember(u"two"_s);
    dialog.Remember(u"one"_s);
    dialog.Edit1->setEditText(u"abc"_s);
    dialog.show();
    dialog.Edit1->lineEdit()->setFocus();
    dialog.Edit1->lineEdit()->setCursorPosition(0);
    QTest::keyClick(dialog.Edit1->lineEdit(), Qt::Key_Delete);
    EXPECT_EQ(dialog.Edit1->currentText(), u"bc"_s);
    EXPECT_EQ(dialog.Edit1->count(), 3);

    dialog.Edit1->showPopup();
    QAbstractItemView* list = dialog.Edit1->view();
    ASSERT_TRUE(list->isVisible());
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(History(dialog), QStringList({u"one"_s, u"three"_s}));
    dialog.Edit1->hidePopup();
    dialog.hide();
}

TEST(Tzkgrabstr, ResizingKeepsTheHeightAndTheEntry30PixelsNarrower) {
    Tzkgrabstr dialog;
    dialog.show();
    EXPECT_EQ(dialog.height(), 139);
    EXPECT_EQ(dialog.width(), 480);
    EXPECT_EQ(dialog.Edit1->width(), 450);
    dialog.resize(700, 300);
    EXPECT_EQ(dialog.height(), 139);
    EXPECT_EQ(dialog.Edit1->width(), 670);
    EXPECT_EQ(dialog.Edit2->width(), 670);
    dialog.hide();
}

TEST(Tzkgrabstr, FolderButtonIsHiddenAgainWheneverTheDialogCloses) {
    Tzkgrabstr dialog;
    EXPECT_TRUE(dialog.xbtn->isHidden());
    EXPECT_EQ(dialog.xbtn->toolTip(), u"Navigate To Directory"_s);
    dialog.xbtn->show();
    QString value;
    bool buttonShown = false;
    WhenModal<Tzkgrabstr>([&](Tzkgrabstr* shown) {
        buttonShown = shown->xbtn->isVisible();
        shown->BitBtn2->click();
    });
    dialog.PromptFor(u"c"_s, u"p"_s, value);
    EXPECT_TRUE(buttonShown);
    EXPECT_TRUE(dialog.xbtn->isHidden());
}

TEST(Tzkgrabstr, FolderBrowserStartsAtTheEnteredDirectoryAndTakesTheChoice) {
    QTemporaryDir start;
    QTemporaryDir chosen;
    Tzkgrabstr dialog;
    dialog.Edit1->setEditText(start.path());
    QString startShown;
    WhenModal<QFileDialog>([&](QFileDialog* browser) {
        startShown = browser->directory().absolutePath();
        browser->setDirectory(chosen.path());
        static_cast<QDialog*>(browser)->accept();
    });
    dialog.xbtn->click();
    EXPECT_EQ(startShown, QDir(start.path()).absolutePath());
    EXPECT_EQ(QDir(dialog.Edit1->currentText()).absolutePath(), QDir(chosen.path()).absolutePath());

    WhenModal<QFileDialog>([&](QFileDialog* browser) { browser->reject(); });
    dialog.xbtn->click();
    EXPECT_EQ(QDir(dialog.Edit1->currentText()).absolutePath(), QDir(chosen.path()).absolutePath());
}

TEST(Tzkgrabstr, ASecondPromptWhileOneIsOpenUsesAPlainInputBox) {
    Tzkgrabstr dialog;
    QString outer = u"outer"_s;
    QString inner = u"inner"_s;
    bool innerConfirmed = false;
    WhenModal<Tzkgrabstr>([&](Tzkgrabstr* shown) {
        WhenModal<QInputDialog>([](QInputDialog* box) {
            box->setTextValue(u"typed"_s);
            box->accept();
        });
        innerConfirmed = shown->PromptFor(u"c2"_s, u"p2"_s, inner);
        shown->BitBtn1->click();
    });
    EXPECT_TRUE(dialog.PromptFor(u"c1"_s, u"p1"_s, outer));
    EXPECT_TRUE(innerConfirmed);
    EXPECT_EQ(inner, u"typed"_s);
    EXPECT_EQ(outer, u"outer"_s);
    EXPECT_EQ(History(dialog), QStringList({u"outer"_s}));
}
