#pragma once

// A person's session with the reader against the local news server: the main window as the
// program makes it, every box answered by the recording presenter, the settings files in a
// directory of the session's own.
#include "newsserver.h"
#include "recordingpresenter.h"
#include "search/zkfnddlg.h"
#include "testfiles.h"
#include "ui/displaytext.h"
#include "ui/unit1.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <gtest/gtest.h>

// The window's news store is a file in the test's settings directory, never the user's.
class Session : public ::testing::Test {
protected:
    Session() {
        savedStorePath = qgetenv("ZKNEWS_STORE");
        qputenv("ZKNEWS_STORE", settings.filePath(QStringLiteral("news.db")).toUtf8());
        QApplication::setQuitOnLastWindowClosed(false);
        form.SettingsDir = settings.path() + u'/';
        form.zkfind = &find;
    }

    ~Session() override { qputenv("ZKNEWS_STORE", savedStorePath); }

    void SetUp() override { ZK_REQUIRE_NEWS_SERVER_OR_SKIP(); }

    void TearDown() override {
        if (form.QRNNTP1->Connected) {
            form.QRNNTP1->Disconnect();
        }
    }

    // The start-up step, after the account file (From, Reply-To, user, password) was written.
    void StartUp(const QByteArray& accountFile = QByteArray()) {
        if (!accountFile.isEmpty()) {
            WriteFile(settings.filePath(QStringLiteral("zknewsreader.cf2")), accountFile);
        }
        form.Timer1Timer();
    }

    // Connects through the connection page, as typed by the user.
    void ConnectTo(quint16 port) {
        form.Edit1->setCurrentText(NewsServer::HostName());
        form.Edit2->setText(QString::number(port));
        form.Button1Click();
    }

    QStringList GroupsShown() const {
        QStringList names;
        for (int i = 0; i < form.ListBox1->count(); ++i) {
            names << form.ListBox1->item(i)->text();
        }
        return names;
    }

    QStringList HostHistory() const {
        QStringList hosts;
        for (int i = 0; i < form.Edit1->count(); ++i) {
            hosts << form.Edit1->itemText(i);
        }
        return hosts;
    }

    void SelectGroup(const char* name) {
        const QList<QListWidgetItem*> found =
            form.ListBox1->findItems(QString::fromLatin1(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name;
        form.ListBox1->setCurrentItem(found.first());
    }

    // Lists the posting group, which grows with every run against the same server: once it
    // spans more numbers than the window lists unasked, the start question comes, and is
    // answered with its first article.
    void ListPostGroup() {
        SelectGroup(NewsServer::kPostGroup);
        presenter.promptAnswers = {QStringLiteral("1")};
        form.ListBox1DblClick();
        presenter.promptAnswers.clear();
    }

    QStringList SummaryLines() const { return PaneText(form.Memo4).split(u'\n'); }

    QByteArray savedStorePath;
    QTemporaryDir settings;
    TRecordingPresenter presenter;
    TForm1 form;
    Tzkfind find{&form};
};

// The lines of a pane as they are laid out on screen: each visual line of each paragraph.
inline QStringList WrappedLines(const QPlainTextEdit* pane) {
    QStringList lines;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines << block.text().mid(line.textStart(), line.textLength());
        }
    }
    return lines;
}
