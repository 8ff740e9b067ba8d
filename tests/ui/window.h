#pragma once

// The main window against the scripted fake news server, with every box answered by the
// recording presenter and the settings files in a directory of the test's own.

#include "fakeserver.h"
#include "recordingpresenter.h"
#include "script.h"
#include "search/zkfnddlg.h"
#include "testfiles.h"
#include "ui/displaytext.h"
#include "ui/settingsfiles.h"
#include "ui/summaryview.h"
#include "ui/unit1.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>

// The window's own state, for the tests' eyes.
class TForm1Access {
public:
    static bool ArticleNotShown(const TForm1& form) { return form.ArticleNotShown; }
    static qint32 ListStart(const TForm1& form) { return form.Summary.ListStart; }
    static const TSummaryState& Summary(const TForm1& form) { return form.Summary; }
    static const TStringList& AllGroups(const TForm1& form) { return form.AllGroups; }
    static const TStringList& AttachTextCache(const TForm1& form) {
        return form.Summary.AttachTextCache;
    }
    static const TStringList& BodyTextCache(const TForm1& form) {
        return form.Summary.BodyTextCache;
    }
    static const TStringList& HeaderTextCache(const TForm1& form) {
        return form.Summary.HeaderTextCache;
    }
};

// A window as the program makes it, its start-up step run, pointed at a fake server. Its news
// store is a file in the test's settings directory, never the user's.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        savedStorePath = qgetenv(kStoreVariable);
        qputenv(kStoreVariable, StorePath().toUtf8());
        // The home folder, where the signature file is looked for, is the test's own.
        savedHome = qgetenv("HOME");
        qputenv("HOME", settings.path().toUtf8());
        QApplication::setQuitOnLastWindowClosed(false);
        form.SettingsDir = settings.path() + u'/';
        form.zkfind = &find;
        form.Edit2->setText(QString::number(server.Port()));
    }

    ~WindowTest() override {
        qputenv(kStoreVariable, savedStorePath);
        qputenv("HOME", savedHome);
    }

    QString StorePath() const { return settings.filePath(QStringLiteral("news.db")); }

    // The window starts without a store: a file stands where the store's folder should be, and
    // the window works from the server alone (after telling so).
    void WithoutStore() {
        WriteFile(settings.filePath(QStringLiteral("blocked")), "a file");
        qputenv(kStoreVariable, settings.filePath(QStringLiteral("blocked/news.db")).toUtf8());
    }

    void StartUp() {
        form.Timer1Timer();
        form.Edit1->setCurrentText(QStringLiteral("127.0.0.1"));
    }

    QString SettingsFile(const char* name) const {
        return settings.filePath(QString::fromLatin1(name));
    }

    // Connects with the host box as it is; the server's list holds the groups given.
    void Connect(const QByteArray& conversation) {
        server.AddScript(conversation);
        form.Button1Click();
    }

    // A key as a person types it: to whichever control has the focus of the shown, active window.
    void TypeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        form.show();
        form.activateWindow();
        // Returns once the window is active; the bound is wide because a busy machine may take
        // seconds to get there.
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 30000));
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, key, modifiers);
    }

    // Runs action once, as a click is handled while the window shows the progress that a
    // listing or an article retrieval reports for the nth time from now on: inside that
    // operation's read loop, whatever the speed of the machine. The window processes events
    // when it first shows the bar of an operation, and the action is queued just before.
    void WhenProgressIsShown(const std::function<void()>& action, int nth = 1) {
        auto reports = std::make_shared<int>(0);
        const auto queueOnNth = [this, action, nth, reports] {
            if (++*reports == nth) {
                QMetaObject::invokeMethod(&form, action, Qt::QueuedConnection);
            }
        };
        TQRNNTP& client = *form.QRNNTP1;
        client.OnListProgress = [queueOnNth, show = client.OnListProgress](qint64 received,
                                                                           qint64 announced) {
            queueOnNth();
            show(received, announced);
        };
        client.OnArticleProgress = [queueOnNth, show = client.OnArticleProgress](qint64 bytes) {
            queueOnNth();
            show(bytes);
        };
    }

    void SelectGroup(const QString& name) {
        const QList<QListWidgetItem*> found = form.ListBox1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        form.ListBox1->setCurrentItem(found.first());
    }

    // Chooses the entry of widget's context menu that has the text given.
    static void ChooseFromContextMenu(QWidget* widget, const QString& text) {
        for (QAction* action : widget->actions()) {
            if (action->text() == text) {
                action->trigger();
                return;
            }
        }
        FAIL() << "no context menu entry " << text.toStdString();
    }

    // Chooses the entry with the text given, by the keyboard, in the next popup menu to show;
    // a menu whose entry is disabled is closed without choosing.
    static void ChooseFromNextPopupMenu(const QString& text) {
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, text] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || !menu->isVisible()) {
                return;
            }
            poll->stop();
            poll->deleteLater();
            for (QAction* action : menu->actions()) {
                if (action->text() == text && action->isEnabled()) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                    return;
                }
            }
            menu->close();
        });
        poll->start();
    }

    void ExpectScriptPlayed() const { ::ExpectScriptPlayed(server); }

    QStringList GroupsShown() const {
        QStringList names;
        for (int i = 0; i < form.ListBox1->count(); ++i) {
            names << form.ListBox1->item(i)->text();
        }
        return names;
    }

    QStringList SummaryLines() const { return PaneText(form.Memo4).split(u'\n'); }

    // Puts the summary pane's caret at the start of the line.
    void CaretToLine(int line) {
        form.Memo4->SetCaret(TForm1Access::Summary(form).LineStart(line));
    }

    static constexpr char kStoreVariable[] = "ZKNEWS_STORE";
    QByteArray savedStorePath;
    QByteArray savedHome;
    QTemporaryDir settings;
    TRecordingPresenter presenter;
    FakeServer server;
    TForm1 form;
    Tzkfind find{&form};
};

// A window connected to the fake server, with one group open.
class GroupWindowTest : public WindowTest {
protected:
    static inline const QByteArray kGroup = "zk.test.small";

    // Connects, then selects the group of the given range; the rest of the conversation follows.
    void OpenGroup(int first, int last, const QByteArray& conversation) {
        StartUp();
        Connect(script::Greeting() + script::GroupList({kGroup.constData()}) +
                script::Group(kGroup, first, last) + conversation);
        SelectGroup(QString::fromLatin1(kGroup));
    }

    // Lists the articles from 1 to last of a small group, "Subject n" from "user n" each.
    void ListSmallGroup(int last, const QByteArray& conversation = QByteArray()) {
        ListGroup(last, script::Summaries(1, last), conversation);
    }

    // Lists a group of the numbers from 1 to last whose server has the summaries given.
    void ListGroup(int last, const QByteArray& summaries, const QByteArray& conversation) {
        OpenGroup(1, last, script::Overview(1, last, summaries) + conversation);
        form.Button3Click();
    }

    void GetArticle(int number) {
        form.Edit7->setText(QString::number(number));
        form.Button4Click();
    }

    qsizetype CommandsSent() const { return server.Received().size(); }
};
