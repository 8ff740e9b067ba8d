#pragma once

#include "nntp/attachmentscan.h"
#include "nntp/qrnntp.h"
#include "store/newsstore.h"
#include "ui/summarystate.h"
#include "util/stringlist.h"

#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class EStoreError;
class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTextCursor;
class QTimer;
class QToolButton;
class QTreeWidget;
class QVBoxLayout;
class TStoreCache;
class TSummaryView;
class Tzkfind;

// A failure the window has already shown the user: it ends the handlers it passes through
// without a second box.
class EShownError : public Exception {
public:
    using Exception::Exception;
};

// The reader's main window: four tab pages (connection and account, article list summary,
// reading, posting) over one news client, QRNNTP1, that it owns for the whole run.
//
// Every client operation is synchronous and keeps dispatching events while it waits, so the
// window's handlers run nested inside one another: the Abort button, Disconnect or a close
// request can arrive while a listing or a retrieval is waiting. Handlers entered from the event
// loop go through Dispatch, which counts them, so that the close request never releases the
// window's lists under a handler that is still running.
//
// The implementation is split by page: unit1.cpp (construction, start-up, settings, closing),
// unit1_layout.cpp (the controls), unit1_connection.cpp (the connection page and the client's
// connection-level events), unit1_summary.cpp (the article list summary and Get Article #),
// unit1_reading.cpp (the article panes, stepping and threads), unit1_scan.cpp (Msg Scan and
// Hdr Scan), unit1_posting.cpp (the posting page and quoting), unit1_store.cpp (the local news
// store), unit1_messageid.cpp (articles opened by Message-ID and URL), unit1_threads.cpp (the
// summary's order and following threads by References), unit1_search.cpp (the search over the
// stored summaries).
class TForm1 : public QMainWindow {
    Q_OBJECT
    friend class TForm1Access;

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The find dialog, whose controls are the window's search settings; set by the program
    // right after creating it.
    Tzkfind* zkfind = nullptr;
    // Where the settings files lie: the program directory unless the program's caller says
    // otherwise.
    QString SettingsDir;

    TQRNNTP* QRNNTP1;

    // The window frame.
    QTabWidget* PageControl1;
    QStatusBar* StatusBar1;
    // In the status bar while a listing or a long article arrives.
    QProgressBar* ProgressBar1;
    // Made when a file is first attached.
    QFileDialog* OpenDialog1 = nullptr;
    QTimer* Timer1;

    // " Connection/Account "
    QWidget* TabSheet3;
    QFrame* Panel4;
    QLabel* Label1;
    QComboBox* Edit1; // host, with the host history as its list
    QLabel* Label3;
    QLineEdit* Edit3; // user ID
    QLabel* Label4;
    QLineEdit* Edit4; // password
    QLabel* Label2;
    QLineEdit* Edit2; // port
    QLabel* Label17;
    QComboBox* ComboBox1; // security: kSecurityNone, kSecurityTls, kSecurityStartTls
    QLabel* Label18;      // whether the connection is encrypted, and how
    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* Label7;
    QLineEdit* Edit6;      // group filter
    QCheckBox* CheckBox1;  // only the subscribed groups in the list
    QPushButton* Button19; // refresh the group list from the server
    // Work offline: the group list, summaries and articles of the server named come from the
    // store, and nothing is sent to any server.
    QCheckBox* CheckBox2;
    // Compress: the server is asked for COMPRESS DEFLATE, unless compression failed with it
    // before (util/compressionmemory.h).
    QCheckBox* CompressBox;
    QLabel* Label5;
    QListWidget* ListBox1; // the groups: the subscribed first, with their unread counts
    // The group list's context menu.
    QAction* SubscribeAction;
    QAction* UnsubscribeAction;

    // " Article List Summary "
    QWidget* TabSheet4;
    QFrame* Panel1;
    QPushButton* Button3;
    QPushButton* Button8;
    QPushButton* Button9;
    QPushButton* Button4;
    QLineEdit* Edit7; // article number
    QLabel* Label13;
    QLabel* Label19;
    QComboBox* ComboBox2; // the summary's order: kOrderByNumber, kOrderByThread
    TSummaryView* Memo4;  // the summary pane, a view of Summary
    // The summary pane's context menu, after the pane's own entries.
    QAction* MarkUnreadAction;
    QAction* MarkGroupReadAction;
    // The search over the stored summaries of every group, above the summary.
    QLabel* Label21;
    QLineEdit* Edit12;      // search text
    QLabel* Label22;        // how many were found, or why the text cannot be searched
    QTreeWidget* ListView1; // the matches, newest first; hidden while the search text is empty
    QAction* SearchAction;  // Ctrl+Shift+F anywhere in the window

    // " Reading Articles "
    QWidget* TabSheet1;
    QLabel* Label10;       // the article's title line
    QPlainTextEdit* Memo3; // the header pane
    // View Article at Cursor in the header and body panes' context menus.
    QAction* Memo3ViewAction;
    QAction* Memo2ViewAction;
    QPushButton* Button17;
    QPushButton* Button11;
    QToolButton* BitBtn3;
    QToolButton* BitBtn1;
    QPushButton* Button14;
    QPushButton* Button18;
    QPushButton* Button13;
    QPushButton* Button10;
    QLabel* Label9;
    QPushButton* Button20; // next unread
    QPushButton* Button21; // mark group read
    QPlainTextEdit* Memo2; // the body pane
    QLabel* Label8;
    QPushButton* Button22; // save every file of the article shown
    QPlainTextEdit* Memo1; // the attachments pane: a line for each file of the article shown
    // The attachments pane's context menu, for the file on the cursor's line.
    QAction* SaveAttachmentAction = nullptr;
    QAction* SaveAttachmentAsAction = nullptr;
    QAction* OpenAttachmentAction = nullptr;
    // Made when first asked for and kept: the folder chooser of Save and Save Attachments, and
    // the file chooser of Save As.
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* SaveDialog2 = nullptr;

    // " Posting Articles "
    QWidget* TabSheet2;
    QFrame* Panel3;
    QLabel* Label14;
    QLineEdit* Edit9; // From address
    QLabel* Label15;
    QLineEdit* Edit10; // Reply-To address
    QLabel* Label16;
    QLineEdit* Edit11; // Subject
    QLabel* Label23;
    QLineEdit* Edit13; // Newsgroups: where the post goes, groups separated by commas
    QLabel* Label24;
    QLineEdit* Edit14; // Followup-To: where replies to the post go; empty for none
    QLabel* Label25;
    QLineEdit* Edit15; // the signature file, kept with the account settings
    QPushButton* Button12;
    QPushButton* Button7;
    QPushButton* Button15;
    QPushButton* Button16;
    QLabel* Label12;
    QPlainTextEdit* Memo5; // the compose pane
    QLabel* Label11;
    QFrame* Panel2;
    QListWidget* ListBox2; // attachments to post
    QFrame* Panel5;
    QPushButton* Button5;
    QPushButton* Button6;

    // The text of the status bar's single panel.
    QString StatusText() const;
    void SetStatusText(const QString& text);

    // Start-up, settings, closing.
    void Timer1Timer();
    bool FormCloseQuery();

    // The connection page. Key handlers take the key as a character and clear it to swallow it.
    void Button1Click();
    void Button2Click();
    void Edit1KeyPress(char& key);
    void Edit6Change();
    // Another security chosen: TLS moves port 119 to 563, and the others move it back.
    void ComboBox1Change();
    void ListBox1DblClick();
    void Button19Click(); // refresh groups
    // Work offline checked or cleared: opens the server named from the store, or connects.
    void CheckBox2Click();
    // Subscribes to the selected group, or unsubscribes from it, in the store.
    void SubscribeSelected(bool subscribed);
    void ListBox1KeyPress(char& key);

    // The client's connection-level events.
    void QRNNTP1Connect(QObject* sender);
    void QRNNTP1Disconnect(QObject* sender);
    void QRNNTP1HostResolved(QObject* sender);
    void QRNNTP1InvalidHost(bool& handled);
    void QRNNTP1ConnectionFailed(QObject* sender);
    void QRNNTP1CompressionFailed(const QString& message);
    void QRNNTP1ConnectionRequired(bool& handled);
    void QRNNTP1Status(QObject* sender, const QString& status);
    void QRNNTP1GroupListUpdate(const QByteArray& name, int firstArticle, int lastArticle,
                                bool posting);
    void QRNNTP1GroupSelect(QObject* sender);
    void QRNNTP1GroupSelectRequired(bool& handled);
    void QRNNTP1Encrypted(QObject* sender);

    // The article list summary page.
    void Button3Click();
    void Button4Click();
    void Button8Click();
    void Button9Click();
    void Edit7KeyPress(char& key);
    // Key down in the summary pane; key is cleared to swallow it.
    void Memo4KeyDown(int& key, Qt::KeyboardModifiers shift);
    void TabSheet4Show();
    // A summary of a listing article by article, from the client's header lines.
    void QRNNTP1HeaderList(QObject* sender);
    // A summary of an XOVER listing, from its line's fields.
    void QRNNTP1Summary(const TSummaryLine& summary);
    // The pane and the number field show the entries added when the listing returns or the
    // next event is processed.
    void QueueSummaryFlush();
    // Progress of a listing (summaries received of those the group announced) and of an
    // article (bytes received), shown in the status bar.
    void QRNNTP1ListProgress(qint64 received, qint64 announced);
    void QRNNTP1ArticleProgress(qint64 bytesReceived);

    // Another summary order chosen: remembered for the listed group, and the entries laid out
    // in it at once.
    void ComboBox2Change();

    // Opens the article of the summary entry under the caret.
    void OpenEntryAtCaret();
    // Selects the entry of article number in the summary, silently when it is not there.
    void LocateInSummary(int number);
    // Searches the summary line by line from the caret with the find dialog's settings, and
    // opens the entry found.
    void FindInSummary();
    // Opens the article of the number in the group listed: selected in the summary when it
    // lists it, then shown on the reading page as Get Article # shows it.
    void OpenListedArticle(qint64 number);

    // The search over the stored summaries (unit1_search.cpp).
    void SearchActionTrigger();
    // Lists the matches of the search text as it stands; text the search cannot read is said
    // beside the field.
    void Edit12Change();
    // Opens the article of the match selected, listing its group when another is listed.
    void OpenSearchHit();

    // The value of a field of the article in the header pane; prefix is the field's name in
    // lower case with ": " ("subject: "). Empty when there is no such field.
    QString HeaderValue(const QString& prefix) const;

    // Opens the article of a Message-ID on the reading page, as any article: from the store
    // when it holds it, else from the server (ARTICLE <id>); when neither has it, or the id is
    // malformed (refused before anything is sent), the status bar says so.
    void OpenMessageId(const QByteArray& messageId);
    // Opens the Message-ID the pane's cursor stands on (a click on it, or Enter there: View
    // Article at Cursor); false when it stands on none, or text is selected.
    bool OpenMessageIdAtCursor(QPlainTextEdit* pane);
    // The header or body pane's context menu at pos: the pane's own entries, then View Article
    // at Cursor for the Message-ID there. A right click outside the selection puts the cursor
    // where it was made.
    void PaneContextMenu(QPlainTextEdit* pane, QPoint pos);
    // The program's news: or nntp: URL argument: connects (to the URL's host when it names
    // another than the connection page's, on its port, 119 unless given) and opens the article
    // or group it names. A malformed URL is shown and nothing is sent.
    void OpenUrl(const QByteArray& url);

    // The reading page and the client's article events.
    void QRNNTP1Header(QObject* sender);
    void QRNNTP1Article(QObject* sender);
    void QRNNTP1Body(QObject* sender);
    void QRNNTP1InvalidArticle(QObject* sender);
    // Shows the body of the client's current article, decoded for reading.
    void ShowBody();
    // Fills the header and body panes with an article read from these lines.
    void ShowArticle(const TStringList& headerLines, const TStringList& bodyLines);
    void BitBtn1Click(); // next article
    void BitBtn3Click(); // previous article
    // A key released anywhere in the window, seen before the control that has the focus; key
    // is cleared to swallow it.
    void FormKeyUp(int& key, Qt::KeyboardModifiers shift);
    void Button10Click(); // next in thread
    void Button13Click(); // previous in thread
    // Opens the next article, in the find dialog's direction, of the shown article's thread by
    // References in thread order, when the summary holds other articles of that thread; else
    // the next summary entry whose subject contains the shown article's subject without its
    // "Re: ".
    void FollowThread();
    void Button11Click(); // launch text
    void TabSheet1Show();
    // Key down in the body pane; key is cleared to swallow it. repeated: a key held down.
    void Memo2KeyDown(int& key, Qt::KeyboardModifiers shift, bool repeated);
    // Opens the next unread entry of the summary after the article opened last, going round to
    // those before it; then the first unread entry of the next subscribed group with unread
    // articles, in name order from the current group on, which it lists.
    void Button20Click();
    // Marks every article of the listed group read, up to its high mark.
    void Button21Click();
    // Marks the articles of the summary entries selected (or under the caret) unread.
    void MarkSelectedUnread();

    // Msg Scan and Hdr Scan. A right click sets handled, so that no context menu opens.
    void Button14Click();
    void Button14ContextPopup(bool& handled);
    void Button18Click();
    void Button18ContextPopup(bool& handled);
    // Steps article by article in the find dialog's direction until the scanned pane contains
    // the find text, the group ends or a click stops it.
    void RunScan();

    // The files of the article shown (unit1_attachments.cpp). Nothing is decoded or written
    // until one of these asks for it.
    void Button22Click();            // Save Attachments...: every file, into a folder chosen
    void SaveAttachmentAtCursor();   // into a folder chosen
    void SaveAttachmentAtCursorAs(); // under a file name chosen
    // Saved into the user's cache folder and opened with the desktop's program for it; a
    // file that would run as a program is refused, the status bar saying why.
    void OpenAttachmentAtCursor();
    void Memo1ContextMenu(QPoint pos);
    // The posting page.
    void Button12Click(); // post new thread
    void Button7Click();  // reply to thread
    void ComposeAndPost(bool reply);
    void Button17Click(); // quote, on the reading page
    void Button15Click(); // indent with "> "
    void Button16Click(); // sign
    void Button5Click();  // add attachments
    void Button6Click();  // remove the selected attachment
    void QRNNTP1Posted(QObject* sender);
    // The posting page shown: a compose pane still empty starts a new text, which gets the
    // signature under an empty line to write in.
    void TabSheet2Show();
    // Newsgroups set for a new thread in the group listed.
    void AddressNewThread();
    // Newsgroups set for a reply to the article shown, unless a post is being written.
    void AddressReply();
    // Newsgroups set for a reply to the article shown, always (Quote): its Followup-To, else
    // its Newsgroups, else the group it was read in.
    void AddressReplyToShown();
    // True once the person has typed into Newsgroups (it holds other than was last filled in)
    // or written in the compose pane (more than the signature): reading an article then
    // leaves Newsgroups as it is.
    bool ComposingPost() const;
    void FillNewsgroups(const QString& groups);
    void QRNNTP1PostFailed(QObject* sender, quint16 errorNumber, const QString& message);

    // The find dialog's directions, as dirgrp's item indexes.
    static constexpr int kDirectionUp = 0;
    static constexpr int kDirectionDown = 1;
    // The summary orders, as ComboBox2's item indexes.
    static constexpr int kOrderByNumber = 0;
    static constexpr int kOrderByThread = 1;
    // The security choices, as ComboBox1's item indexes.
    static constexpr int kSecurityNone = 0;
    static constexpr int kSecurityTls = 1;
    static constexpr int kSecurityStartTls = 2;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateConnectionPage();
    void CreateSummaryPage();
    void CreateSearchRow(QVBoxLayout* page);
    void CreateReadingPage();
    void CreatePostingPage();
    void CreateStatusBar();
    void CreateNonVisual();
    void BindAttachments();
    static void SetBackground(QWidget* control, QColor colour);
    void BindControls();
    void BindClient();
    void SetDesignSize();

    // Runs a handler entered from the event loop: counted as running, and an exception that
    // escapes it shown as the application shows errors.
    void Dispatch(const std::function<void()>& handler);
    bool KeyPressFilter(QObject* watched, QKeyEvent* event);
    bool KeyReleaseFilter(QKeyEvent* event);
    // A key pressed in the search field or its matches; true when the search took it.
    bool SearchKeyPress(QObject* watched, int key);
    // The store's row of the server searched: the one connected to, or else the one named on
    // the connection page.
    qint64 SearchedServer(TNewsStore& store);

    QString SettingsFile(const char* name) const;
    void LoadSettings();
    void SaveSettings();
    void SetHostHistory(const TStringList& hosts);
    TStringList HostHistory() const;
    void AddHost(const QString& host);
    // Empties the window's lists now, or, while handlers are running, when the last returns.
    void ReleaseLists();

    // True, after telling the user so, while a client operation runs: the connection is not
    // closed or made anew under it.
    bool RefusedWhileBusy();
    // Connects with the connection page's settings, the group list emptied and filled anew.
    void ConnectToServer();
    // Connects the client as it is set; a connection that cannot be made is shown once,
    // naming the server and the reason, and raised as EShownError.
    void ConnectClient();
    QString ConnectionFailureText(const QString& clientError);
    TSecurity SelectedSecurity() const;
    void SelectSecurity(TSecurity security);
    // The encryption (its description; empty: none) and the compression of the connection,
    // shown on the connection page and in the status bar.
    void ShowConnectionState(const QString& encryption, bool compressed);
    void FillGroupList(const QString& filter);
    QByteArray SelectedGroup() const;
    // The client's current group in the caption, and the caches given to it.
    void ShowSelectedGroup();
    // Lists the group chosen in the group list, unless a client operation runs.
    void ListSelectedGroup(bool emptyCaches);
    // Selects the group and lists it: a group opened before shows what the store holds of it
    // without asking and fetches only the numbers above the highest stored, as they arrive;
    // any other from the start the user chooses. emptyCaches forgets the articles read before,
    // even of the same group. False when nothing was listed.
    // articleToOpen, when not 0, is opened once the group is listed instead of the entry at the
    // caret.
    bool ListGroup(const QByteArray& name, bool emptyCaches, qint64 articleToOpen = 0);
    // The first number to list of the group selected, asked for when the group spans many;
    // -1, with the user told why where there is something to say, when nothing is to be
    // listed.
    qint64 ListingStart();
    // The entries a listing from start is expected to have: the group's count where it
    // announced one, within the numbers from start.
    qint64 ExpectedEntries(qint64 start) const;
    // No listing was started: the group of the summary shown is selected again.
    void KeepListedGroup(const QByteArray& previousGroup);
    void CacheShownArticle(int number);
    void ShowCachedArticle(int index);
    void ShowArticleDetails(int number);
    // Shows the summary entries added since the last call, and the last one's number.
    void FlushSummary();
    // Shows the progress bar, and lets the window paint it and see a click on Abort.
    void ShowProgress(const QString& format, qint64 value, qint64 maximum);
    void HideProgress();

    void OpenNewsUrl(const nntpwire::NewsUrl& url);
    // The Message-ID the cursor stands on; empty when none, or text is selected.
    static QByteArray MessageIdAtCursor(const QTextCursor& cursor);

    // The summary order chosen for the group, remembered in the store (working with it) or
    // for the session; by number until chosen.
    bool ThreadedSummaryChosen(const QByteArray& group);
    void RememberSummaryOrder(const QByteArray& group, bool threaded);
    // Shows the order remembered for the group being listed in the order box.
    void ShowChosenOrder();
    // Lays the summary out in the order chosen, unless it stands so, keeping the entry selected
    // in sight. Called when a listing ends: entries arrive by number.
    void LaySummary();
    // Following the thread of the article shown by References; false when it has none among
    // the entries.
    bool FollowThreadByReferences(const QString& subject, bool down);
    // What the connection page holds.
    struct TConnectionFields {
        QString host;
        QString port;
        TSecurity security = TSecurity::None;
        QString user;
        QString password;
    };
    TConnectionFields ConnectionFields() const;
    void ShowConnectionFields(const TConnectionFields& fields);
    // Puts the URL's server into the connection fields, unless it is the settings' own. Another
    // server is visited: it is offered no login, and the settings' server is kept aside to be
    // saved and shown again (a link in a browser must not learn the password, nor change the
    // settings).
    void UseUrlServer(const QString& host, int port);
    // Ends a visit: the settings' server comes back into the fields; when the person typed
    // another host meanwhile, only the settings' login and security come back.
    void EndUrlVisit();
    std::optional<TConnectionFields> settingsServer_;
    QString visitedHost_;
    bool StoreHoldsMessageId(const QByteArray& id);

    // The local news store. Opens it at start-up; one that cannot be opened is shown, and when
    // the file is there the user may set it aside and start a new one. Without a store the
    // window works from the server alone.
    void OpenStore();
    bool OfferToSetStoreAside(const QString& path, const EStoreError& error);
    // Runs work on the store when there is one; a failure of the store is shown in the status
    // bar and ends only the work.
    void UseStore(const std::function<void(TNewsStore& store)>& work);
    // Fills the connection fields from the server last connected to.
    void ShowLastProfile();
    // Saves the client's server as the last profile and keeps what it fetches from now on.
    void AttachStore();
    // Shows the groups the store holds of the client's server at once, before the server
    // answers.
    void ShowStoredGroups();
    // Lists the server's groups; the list shown becomes what the server sent, with what the
    // store says of each, and the store keeps its marks and the server's time of the list.
    void ListServerGroups();
    // On connecting: the groups created since the server's time of the last list the store
    // keeps, or the whole list the first time and from a server that refuses NEWGROUPS.
    void UpdateServerGroups();
    // Adds the groups created since to the stored list shown; false when the server refused.
    bool ListNewGroups(const QDateTime& since);
    // Keeps the groups of the list just read (listedGroups_) and the server's time of it.
    void KeepListedGroups(const QDateTime& listedAt);
    std::optional<QDateTime> StoredGroupListTime();
    // True while Work offline is checked: the client is in cmLocal.
    bool WorkingOffline() const;
    // Work offline's Connect: the groups the store holds of the server named, no connection.
    void OpenStoredServer();
    // Selects the group to be listed: on the server, or working offline as the store holds it.
    void SelectGroup(const QByteArray& name);
    void SelectStoredGroup(const QByteArray& name);
    // False, with the status bar saying why, for an article that working offline cannot show.
    bool ArticleAtHand(int number);
    // What the store says of the groups of the client's server.
    void ReadStoredGroups();
    // What the store holds of the client's current group: the first and last numbers of its
    // summaries from the group's low mark on, and the highest number stored, 0 for a group
    // never opened (whose summaries may all have expired since).
    struct TStoredListing {
        qint64 high = 0;
        std::optional<std::pair<qint64, qint64>> range;
        bool OpenedBefore() const { return high > 0; }
        // Where its listing starts: at the first summary held, else above the highest stored.
        qint64 Start(qint64 low) const { return range ? range->first : std::max(high + 1, low); }
    };
    TStoredListing StoredListing();
    // Keeps the marks the server just gave for the selected group in the store, which drops what
    // it holds below the low mark, and all of it when the numbers went backwards (a renumbered
    // group is fetched anew, not mixed with the old numbers). Working offline there are no
    // server marks to go by.
    void TakeServerMarks();
    // Adds the stored summaries first..last to the summary as if the server had just sent them,
    // read from the store a part at a time. The first part is painted at once: the top of a
    // large group is in sight before the rest is read. Answers the last number shown, short of
    // last when the store failed meanwhile (first - 1 when it showed none).
    qint64 ShowStoredSummaries(std::pair<qint64, qint64> range);
    void AddStoredEntry(const TStoredSummary& summary);
    // The entry of one overview line, from the fields where the line holds them.
    void AddSummaryEntry(const TSummaryLine& summary);
    // Reads the read marks of the client's current group from the store.
    void ReadReadMarks();
    // Keeps the summaries of the client's last listing.
    void KeepListing();
    // Keeps the article the client retrieved last, marked read.
    void KeepReadArticle(int number);
    // Marks the article of the listed group read in the store at once.
    void MarkArticleRead(int number);
    // True when the listed group's read marks can be changed; otherwise the user is told why.
    bool ReadMarksKept();
    void MarkGroupRead();
    // The summary and the group's unread count show the read marks anew.
    void ReadMarksChanged();
    // Reads the group's unread count from the store and shows it in the group list.
    void ShowUnreadCount(const QByteArray& name);
    void ShowGroupUnread(const QByteArray& name, qint64 unread);
    // The subscribed groups the server lists, but the current one, that have unread articles,
    // in name order going round from the current group.
    QList<QByteArray> SubscribedGroupsWithUnread();
    // Opens the first unread entry of the summary after the entry of article number after,
    // going round; false when every entry is read.
    bool OpenUnreadEntryAfter(qint64 after);
    // The body pane shows the end of the article.
    bool BodyAtEnd() const;

    // The article number field as a number; 0 when it holds none.
    int NumberField() const;
    void OpenNeighbour(int number);
    void ScanClick(bool headers);
    void ScanContextPopup(bool headers, bool& handled);
    void StopScan();
    QPlainTextEdit* ScanPane(bool headers) const;
    QPushButton* ScanButton(bool headers) const;
    void ScanButtonsIdle();
    // The articles the next steps of a scan from number would fetch from the server, in the
    // scan's direction: those the summary lists and holds no text of, up to the first one it
    // does hold (shown by a step of its own). Empty while working offline.
    QList<int> ScanFetchAhead(int number, bool down) const;
    // The scan's steps through ahead, the articles fetched several at a time; true when the
    // scan is to end (a match, a click on the scanning button, a failure).
    bool ScanPipelined(const QList<int>& ahead, bool headers);
    // Shows an article fetched by a scan as the step to it would; true to go on.
    bool ScanShowFetched(int number, bool found, bool headers);
    // True when the scanned pane contains the find text, or the text cannot match at all.
    bool ScanMatched(bool headers);
    // After an article is put in the panes: the details, the summary's entry read, the status.
    void ShowOpenedArticle(int number, bool fetched);
    void AppendEmptyLines(int count);
    // Puts the signature file's text under the compose pane's text, after a "-- " line, with
    // the caret on the line above it; says in the status bar what is wrong with the file.
    void AppendSignature();
    // The Newsgroups and Followup-To header values of the fields; a field that cannot go out
    // is said in the status bar and a box, and raised as EShownError.
    std::pair<QByteArray, QByteArray> CheckedDestination();
    // What makes a post the same text as another: subject, groups and body.
    QByteArray PostIdentity(const QByteArray& newsgroups) const;

    // Keeps the article shown for its files, and answers the files found in it.
    const QList<TFoundAttachment>& KeepShownFiles(const TStringList& headerLines,
                                                  const TStringList& bodyLines);
    // The attachments pane's text for the article the client just retrieved.
    QString AttachmentsPaneText() const;
    // The file on the attachments pane's cursor line; null when the line names none.
    const TFoundAttachment* FileAtCursor() const;
    // The file on the pane's cursor line when it is a whole one; a yEnc part alone is neither
    // opened nor saved under another name, and the status bar says why.
    std::optional<TFoundAttachment> WholeFileAtCursor();
    // The folder chosen, remembered for the next time; empty when the chooser was closed.
    QString ChooseAttachmentFolder();
    // Writes bytes into folder as name, or under a free name made from it (a file there is
    // never written over), through a working file that gets the name once all is written;
    // answers the path written.
    static QString WriteAttachment(const QByteArray& bytes, const QString& folder,
                                   const QString& name);
    void SaveAttachmentsInto(const QList<TFoundAttachment>& files, const QString& folder);
    // Saves the file a part belongs to (a yEnc part, or a slice of a uuencoded file cut into
    // several articles), joined from the part in the shown article and those in the articles
    // of the summary whose subject differs only in its part counter ("name (2/5)"), each
    // taken from the window's cache or fetched and written out as it comes (a working file
    // in folder that gets the file's name once whole). The progress bar counts the parts and
    // bytes written; Abort stops. Answers the path saved; empty, problem naming the parts
    // missing or the part that failed its checks, when nothing was saved. problem also tells
    // a CRC32 of the whole file that does not match (the file is kept as decoded). file is a
    // part found in the lines of the article of that subject.
    QString SaveJoinedParts(const TFoundAttachment& file, const QString& folder,
                            const QString& subject, const TStringList& headerLines,
                            const TStringList& bodyLines, QString& problem);
    // The yEnc parts go to their places in any order; a part that fails its checks stops the
    // save, as it would leave the file damaged.
    QString SaveYEncParts(const TFoundAttachment& file, const QString& folder,
                          const QString& subject, const TStringList& headerLines,
                          const TStringList& bodyLines, QString& problem);
    // The uuencoded slices decode one after the other, part 1 (with the "begin" line that
    // names the file) first; nothing is fetched unless the summary lists every part.
    QString SaveUuParts(const TFoundAttachment& file, const QString& folder, const QString& subject,
                        const TStringList& headerLines, const TStringList& bodyLines,
                        QString& problem);
    void ShowPartsProgress(int parts, int total, qint64 bytes, qint64 size);
    // The summary's entries of the subject, its part counter aside, but the shown article's:
    // their counter's part and number, by part.
    std::vector<std::pair<int, qint64>> ListedParts(const QString& subject) const;
    // The numbers of ListedParts.
    std::vector<qint64> PartArticles(const QString& subject) const;
    // Hands the lines of each article of numbers to onArticle in turn, in that order, until it
    // answers false or Abort is pressed: from the window's cache, else fetched without showing
    // them, several at a time. An article that cannot be had (working offline without it,
    // aborted, gone) is passed over.
    using TPartLines =
        std::function<bool(const TStringList& headerLines, const TStringList& bodyLines)>;
    void ForEachPartArticle(const std::vector<qint64>& numbers, const TPartLines& onArticle);
    // Fetches numbers for ForEachPartArticle; false once onArticle or Abort has stopped it.
    bool FetchPartArticles(const QList<int>& numbers, const TPartLines& onArticle);
    // While the articles of a file's other parts are fetched, the article events show nothing.
    bool collectingParts_ = false;
    // Set by Abort while a file's parts are saved.
    bool partsAborted_ = false;
    TStringList shownHeaderLines_;
    TStringList shownBodyLines_;
    QList<TFoundAttachment> shownFiles_;
    // The folder attachments were last saved into; kept in the settings.
    QString attachmentFolder_;
    bool ArticleNotShown = false;
    // The identity (PostIdentity) of the post being sent, and of the last one the server took:
    // the same text once more is sent only when the person says so.
    QByteArray sendingPost_;
    QByteArray acceptedPost_;
    // What the window last put into Newsgroups itself.
    QString filledNewsgroups_;
    // The number of the article asked for last in the listed group; 0 when none was.
    qint64 articleAsked_ = 0;
    // The number of the listed group's article the reading panes show; 0 when they show none.
    qint64 shownNumber_ = 0;
    // The summary orders chosen this session, by group: threaded or not.
    QHash<QByteArray, bool> threadedGroups_;
    // True while a group is selected to be listed: the selection is shown only once the
    // listing starts.
    bool choosingGroup_ = false;
    // The client reported that the connection ConnectClient asked for could not be made.
    bool connectionFailed_ = false;
    // True while a scan runs; a click on the scanning button clears it to stop the scan.
    bool Scanning = false;
    // What the scan searches: the header pane when true, the body pane when false.
    bool ScanHeaders = false;
    // Every group name received since the last Connect: the source of the filter.
    TStringList AllGroups;
    // The summary's entries, caret and selection, ListStart and the article text caches (the
    // pane texts kept exactly as shown).
    TSummaryState Summary;

    // The charset the shown article's body declares that could not be read; empty when none.
    QByteArray unknownCharset_;

    // Entries were added since the summary pane and the number field last showed them.
    bool summaryFlushQueued_ = false;
    // Since the progress bar was last painted.
    QElapsedTimer progressShown_;

    // The local news store, and its link to the client while connected; null without them.
    std::unique_ptr<TNewsStore> store_;
    std::unique_ptr<TStoreCache> storeCache_;
    // The read marks of the group listed in the summary, as the store holds them.
    TArticleRanges readMarks_;
    // What the store holds of each group of the connected server, by name.
    QHash<QByteArray, TStoredGroup> storedGroups_;
    // The groups of the running LIST as they arrive; shown one by one only when the list shown
    // did not come from the store.
    QList<TStoredGroup> listedGroups_;
    bool groupsFromStore_ = false;

    QLabel* statusPanel_ = nullptr;
    // Protocol and cipher while the connection is encrypted.
    QLabel* encryptionPanel_ = nullptr;
    int runningHandlers_ = 0;
    bool releasePending_ = false;
    bool closing_ = false;
};
