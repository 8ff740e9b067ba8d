// The files of the article shown: the attachments pane's lines, the body's placeholder lines,
// and saving and opening a file through the button, the pane's context menu and the choosers.
#include "window.h"

#include "codec/qruuencode.h"
#include "filesizelimit.h"
#include "modal.h"
#include "testhelpers.h"
#include "yencencode.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

// Stands in for the desktop: records the file URLs it is asked to open, opens nothing.
class TUrlRecorder : public QObject {
    Q_OBJECT
public:
    TUrlRecorder() { QDesktopServices::setUrlHandler(u"file"_s, this, "Open"); }
    ~TUrlRecorder() override { QDesktopServices::unsetUrlHandler(u"file"_s); }
    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls << url; }
};

// "abc" as a whole yEnc file named name.
QByteArray YEncAbc(const QByteArray& name) {
    return "=ybegin line=128 size=3 name=" + name + "\n\x8b\x8c\x8d\n=yend size=3 crc32=352441c2";
}

// "abc" uuencoded as name.
QByteArray UuAbc(const QByteArray& name) {
    return "begin 644 " + name + "\n#86)C\n`\nend";
}

} // namespace

class AttachmentsTest : public GroupWindowTest {
protected:
    AttachmentsTest() {
        savedCacheHome = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());
    }
    ~AttachmentsTest() override { qputenv("XDG_CACHE_HOME", savedCacheHome); }

    // Lists a group whose article 1 has the header and body given, and shows it; the rest of
    // the conversation follows.
    void ShowArticle(const QByteArray& header, const QByteArray& body,
                     const QByteArray& conversation = QByteArray()) {
        ListSmallGroup(2, script::Article(1, header, body) + conversation);
        GetArticle(1);
    }

    void CursorToFile(int line) {
        form.Memo1->setTextCursor(QTextCursor(form.Memo1->document()->findBlockByNumber(line)));
    }

    // The next file chooser is answered with the path typed, as a person types it.
    static QStringList FilesIn(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The user's cache folder for the program, under the test's own XDG_CACHE_HOME.
    static QString OpenedFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + u"/attachments"_s;
    }

    QTemporaryDir cacheHome;
    QByteArray savedCacheHome;
};

TEST_F(AttachmentsTest, EachShapeOfFileIsListedAndStandsAsOneLineInTheBody) {
    struct TShape {
        const char* what;
        QByteArray header;
        QByteArray body;
        QString pane;
        QString shownBody;
    };
    const QList<TShape> shapes{
        {"a yEnc file", "Subject: y", "see\n" + YEncAbc("abc.bin") + "\nbye",
         u"abc.bin \u2014 3 bytes, yEnc"_s, u"see\n[yEnc: abc.bin, 3 bytes]\nbye"_s},
        {"a yEnc part", "Subject: y",
         "=ybegin part=2 total=5 line=128 size=1234567 name=big.rar\n=ypart begin=1 end=3\n"
         "\x8b\x8c\x8d\n=yend size=3 part=2",
         u"big.rar \u2014 1.2 MB, yEnc, part 2 of 5"_s, u"[yEnc: big.rar, 1.2 MB]"_s},
        {"two uuencoded files", "Subject: u", UuAbc("a.txt") + "\nand\n" + UuAbc("b.txt"),
         u"a.txt \u2014 about 3 bytes, uuencoded\nb.txt \u2014 about 3 bytes, uuencoded"_s,
         u"[uuencoded: a.txt, about 3 bytes]\nand\n[uuencoded: b.txt, about 3 bytes]"_s},
        {"a MIME picture after the text",
         "Subject: m\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b",
         "--b\nContent-Type: text/plain\n\nhello\n--b\nContent-Type: image/png; name=p.png\n"
         "Content-Transfer-Encoding: base64\n\nYWJjZGVm\n--b--",
         u"p.png \u2014 about 6 bytes, MIME base64"_s, u"hello\n\n[MIME: p.png, about 6 bytes]"_s},
        {"no file", "Subject: t", "just text", QString(), u"just text"_s},
    };
    QByteArray articles;
    for (int i = 0; i < shapes.size(); ++i) {
        articles += script::Article(i + 1, shapes[i].header, shapes[i].body);
    }
    ListSmallGroup(static_cast<int>(shapes.size()), articles);
    // Each retrieved, then each again from the window's cache: the same.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < shapes.size(); ++i) {
            SCOPED_TRACE(shapes[i].what);
            GetArticle(i + 1);
            EXPECT_EQ(PaneText(form.Memo1), shapes[i].pane);
            EXPECT_EQ(PaneText(form.Memo2), shapes[i].shownBody);
        }
    }
    ExpectScriptPlayed();
    // Reading decoded nothing into a file.
    EXPECT_FALSE(QFileInfo::exists(OpenedFolder()));
}

TEST_F(AttachmentsTest, SaveAttachmentsWritesEveryFileUnderAFreeSafeNameAndRemembersTheFolder) {
    QTemporaryDir folder;
    WriteFile(folder.filePath(u"a.txt"_s), "taken");
    ShowArticle("Subject: files",
                UuAbc("a.txt") + "\n" + UuAbc("../../etc/passwd") + "\n" + YEncAbc("/dev/null") +
                    "\n" + UuAbc("con"),
                script::Quit());
    AnswerFileDialog(folder.path());
    form.Button22->click();
    EXPECT_EQ(FilesIn(folder.path()),
              (QStringList{u"a.txt"_s, u"a_1.txt"_s, u"con"_s, u"null"_s, u"passwd"_s}));
    EXPECT_EQ(FileBytes(folder.filePath(u"a.txt"_s)), "taken");
    for (const QString& name : {u"a_1.txt"_s, u"passwd"_s, u"null"_s, u"con"_s}) {
        EXPECT_EQ(FileBytes(folder.filePath(name)), "abc") << name.toStdString();
        EXPECT_FALSE(QFileInfo(folder.filePath(name)).permissions() &
                     (QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther));
    }
    EXPECT_EQ(form.StatusText(),
              u"Saved "_s + folder.filePath(u"a_1.txt"_s) + u", "_s + folder.filePath(u"passwd"_s) +
                  u", "_s + folder.filePath(u"null"_s) + u", "_s + folder.filePath(u"con"_s));

    // The chooser opens in that folder the next time, and the settings keep it for the next
    // start.
    QString openedIn;
    WhenModal<QFileDialog>([&openedIn](QFileDialog* dialog) {
        openedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    form.Button22->click();
    EXPECT_EQ(openedIn, QDir(folder.path()).absolutePath());
    EXPECT_TRUE(form.close());
    const QByteArray account = FileBytes(SettingsFile(kAccountFile));
    EXPECT_TRUE(account.contains("\r\nattachment-folder " + folder.path().toUtf8()))
        << account.toStdString();
    EXPECT_EQ(ParseAccountSettings(account).attachmentFolder, folder.path().toUtf8());
}

TEST_F(AttachmentsTest, TheContextMenuSavesTheFileOnTheCursorLineIntoAFolderOrUnderAName) {
    QTemporaryDir folder;
    ShowArticle("Subject: two", YEncAbc("one.bin") + "\n" + UuAbc("two.txt"),
                script::Article(2, "Subject: part",
                                "=ybegin part=1 total=2 line=128 size=6 name=half.bin\n"
                                "=ypart begin=1 end=3\n\x8b\x8c\x8d\n=yend size=3 part=1"));
    CursorToFile(1);
    AnswerFileDialog(folder.path());
    ChooseFromContextMenu(form.Memo1, u"Save"_s);
    EXPECT_EQ(FilesIn(folder.path()), QStringList{u"two.txt"_s});
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"two.txt"_s));

    // Save As: a name typed over one that is there gets a free name instead.
    CursorToFile(0);
    AnswerFileDialog(folder.filePath(u"two.txt"_s));
    ChooseFromContextMenu(form.Memo1, u"Save As..."_s);
    EXPECT_EQ(FileBytes(folder.filePath(u"two.txt"_s)), "abc");
    EXPECT_EQ(FileBytes(folder.filePath(u"two_1.txt"_s)), "abc");
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"two_1.txt"_s));

    // A yEnc part whose other parts are nowhere makes no file.
    GetArticle(2);
    CursorToFile(0);
    AnswerFileDialog(folder.path());
    ChooseFromContextMenu(form.Memo1, u"Save"_s);
    EXPECT_EQ(FilesIn(folder.path()).size(), 2);
    EXPECT_EQ(form.StatusText(), u"Nothing saved; half.bin is not saved: part 2 of 2 is missing"_s);
    // Neither Save As nor Open asks or writes anything for a part alone.
    const QString partRefused =
        u"half.bin is one part of a file posted in several: Save joins it with its other parts"_s;
    for (const QString& entry : {u"Save As..."_s, u"Open"_s}) {
        form.SetStatusText(QString());
        ChooseFromContextMenu(form.Memo1, entry);
        EXPECT_EQ(form.StatusText(), partRefused);
    }
    EXPECT_EQ(FilesIn(folder.path()).size(), 2);
    EXPECT_FALSE(QFileInfo::exists(OpenedFolder()));
}

// The parts of "abcdef" in three articles, two bytes each, with the CRC32 of the whole file.
QByteArray PartOfAbcdef(int part, const QByteArray& data) {
    const QByteArray n = QByteArray::number(part);
    const QByteArray begin = QByteArray::number(2 * part - 1);
    const QByteArray end = QByteArray::number(2 * part);
    return "=ybegin part=" + n + " total=3 line=128 size=6 name=big.bin\n=ypart begin=" + begin +
           " end=" + end + "\n" + data + "\n=yend size=2 part=" + n + " crc32=4b8e39ef";
}

TEST_F(AttachmentsTest, SaveJoinsAPartWithTheOtherPartsTheSummaryListsFetchingThoseNotRead) {
    QTemporaryDir folder;
    const auto summary = [](int number, const QByteArray& subject) {
        return script::Summary(number, subject, "poster@example");
    };
    // Article 5 is another poster's file of the same name: never fetched, never joined in.
    ListGroup(5,
              summary(1, "big.bin (1/3)") + summary(2, "chat") + summary(3, "big.bin (3/3)") +
                  summary(4, "big.bin (2/3)") +
                  script::Summary(5, "big.bin (1/3)", "someone.else@example"),
              script::Article(4, "Subject: big.bin (2/3)", PartOfAbcdef(2, "\x8d\x8e")) +
                  script::Article(2, "Subject: chat", "a file\n" + UuAbc("chat.txt")) +
                  script::Article(3, "Subject: big.bin (3/3)", PartOfAbcdef(3, "\x8f\x90")) +
                  script::Article(1, "Subject: big.bin (1/3)", PartOfAbcdef(1, "\x8b\x8c")));
    GetArticle(4);
    GetArticle(2);
    GetArticle(3);
    CursorToFile(0);
    AnswerFileDialog(folder.path());
    ChooseFromContextMenu(form.Memo1, u"Save"_s);
    EXPECT_EQ(FileBytes(folder.filePath(u"big.bin"_s)), "abcdef");
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"big.bin"_s));
    // Article 4 came from the window's cache, article 1 from the server; the panes still show 3.
    ExpectScriptPlayed();
    EXPECT_FALSE(server.Received().contains("ARTICLE 5"));
    EXPECT_EQ(PaneText(form.Memo1), u"big.bin \u2014 6 bytes, yEnc, part 3 of 3"_s);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"big.bin (3/3)"_s);
}

TEST_F(AttachmentsTest, AnArticleReadWhileThePartsArriveLeavesTheFilesOfTheOneClicked) {
    QTemporaryDir folder;
    const auto summary = [](int number, const QByteArray& subject) {
        return script::Summary(number, subject, "poster@example");
    };
    ListGroup(4,
              summary(1, "big.bin (1/3)") + summary(2, "chat") + summary(3, "big.bin (3/3)") +
                  summary(4, "big.bin (2/3)"),
              script::Article(2, "Subject: chat", "a file\n" + UuAbc("chat.txt")) +
                  script::Article(3, "Subject: big.bin (3/3)", PartOfAbcdef(3, "\x8f\x90")) +
                  script::Article(1, "Subject: big.bin (1/3)", PartOfAbcdef(1, "\x8b\x8c")) +
                  script::Article(4, "Subject: big.bin (2/3)", PartOfAbcdef(2, "\x8d\x8e")));
    GetArticle(2);
    GetArticle(3);
    // Article 2 again, from the window's cache, while article 1 arrives.
    WhenProgressIsShown([this] { GetArticle(2); });
    AnswerFileDialog(folder.path());
    form.Button22->click();
    EXPECT_EQ(FilesIn(folder.path()), QStringList{u"big.bin"_s});
    EXPECT_EQ(FileBytes(folder.filePath(u"big.bin"_s)), "abcdef");
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"big.bin"_s));
    EXPECT_EQ(PaneText(form.Memo1), u"chat.txt \u2014 about 3 bytes, uuencoded"_s);
    ExpectScriptPlayed();
}

TEST_F(AttachmentsTest, AbortWhileAPartArrivesSavesNothingAndNamesThePartsMissing) {
    QTemporaryDir folder;
    // Long enough for the progress bar, and so Abort, to come before its end.
    const QByteArray padding = QByteArray(60, 'x').append('\n').repeated(3000);
    ListGroup(
        3,
        script::Summary(1, "big.bin (1/3)", "p@example") +
            script::Summary(3, "big.bin (3/3)", "p@example"),
        script::Article(3, "Subject: big.bin (3/3)", PartOfAbcdef(3, "\x8f\x90")) +
            script::Article(1, "Subject: big.bin (1/3)", padding + PartOfAbcdef(1, "\x8b\x8c")));
    GetArticle(3);
    bool clicked = false;
    WhenProgressIsShown([&] {
        form.Button8->click();
        clicked = true;
    });
    AnswerFileDialog(folder.path());
    form.Button22->click();
    ASSERT_TRUE(clicked);
    EXPECT_TRUE(FilesIn(folder.path()).isEmpty());
    EXPECT_EQ(form.StatusText(),
              u"Nothing saved; big.bin is not saved: parts 1, 2 of 3 are missing"_s);
    EXPECT_TRUE(form.ProgressBar1->isHidden());
    EXPECT_EQ(PaneText(form.Memo1), u"big.bin \u2014 6 bytes, yEnc, part 3 of 3"_s);
}

// The parts are written into the folder as they come, not gathered in memory first: while the
// last part is fetched, the bytes of the others are already in a working file there.
TEST_F(AttachmentsTest, ThePartsAreWrittenIntoAWorkingFileAsTheyComeAndItGetsTheNameWhenWhole) {
    QTemporaryDir folder;
    const QByteArray padding = QByteArray(60, 'x').append('\n').repeated(3000);
    ListGroup(
        3,
        script::Summary(1, "big.bin (1/3)", "p@example") +
            script::Summary(2, "big.bin (2/3)", "p@example") +
            script::Summary(3, "big.bin (3/3)", "p@example"),
        script::Article(3, "Subject: big.bin (3/3)", PartOfAbcdef(3, "\x8f\x90")) +
            script::Article(1, "Subject: big.bin (1/3)", PartOfAbcdef(1, "\x8b\x8c")) +
            script::Article(2, "Subject: big.bin (2/3)", padding + PartOfAbcdef(2, "\x8d\x8e")));
    GetArticle(3);
    QStringList filesMeanwhile;
    QByteArray workingBytes;
    TQRNNTP& client = *form.QRNNTP1;
    client.OnArticleProgress = [&, show = client.OnArticleProgress](qint64 bytes) {
        if (filesMeanwhile.isEmpty() && client.RequestedArticle() == 2) {
            filesMeanwhile = FilesIn(folder.path());
            workingBytes = FileBytes(folder.filePath(filesMeanwhile.value(0)));
        }
        show(bytes);
    };
    AnswerFileDialog(folder.path());
    form.Button22->click();
    EXPECT_EQ(filesMeanwhile, QStringList{u".big.bin.partial"_s});
    EXPECT_EQ(workingBytes.left(2), "ab");
    EXPECT_EQ(workingBytes.mid(4), "ef");
    EXPECT_EQ(FilesIn(folder.path()), QStringList{u"big.bin"_s});
    EXPECT_EQ(FileBytes(folder.filePath(u"big.bin"_s)), "abcdef");
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"big.bin"_s));
    ExpectScriptPlayed();
}

struct TUnfinishedCase {
    const char* name;
    enum { NoAbort, WhilePart2Arrives, AfterTheFirstPartWritten } abort;
    bool wrongPart2Crc; // part 2 declares a CRC32 its bytes do not have
    const char* status;
};

void PrintTo(const TUnfinishedCase& row, std::ostream* out) {
    *out << row.name;
}

class UnfinishedSaveTest : public AttachmentsTest,
                           public ::testing::WithParamInterface<TUnfinishedCase> {};

// A save that cannot finish stops there: no file in the folder, the working file included,
// and the parts after it are not taken (their articles may have been asked for already, as
// they are fetched several at a time).
TEST_P(UnfinishedSaveTest, LeavesNoFileAndTakesNoFurtherPart) {
    const TUnfinishedCase& row = GetParam();
    QTemporaryDir folder;
    // 8 KB in four parts of 2 KB: the bar counts in kilobytes.
    const QByteArray file = RandomBytes(8192, 3);
    const auto part = [&file, &row](int n) {
        QByteArray block =
            YEncBlock(file, "big.bin", 128, YEncPart{n, 4, 2048 * n - 2047, 2048 * n});
        if (n == 2 && row.wrongPart2Crc) {
            const qsizetype crc = block.indexOf(" pcrc32=") + 8;
            block.replace(crc, 8, "00000000");
        }
        return block.replace("\r\n", "\n").trimmed();
    };
    QByteArray summaries;
    for (int n = 1; n <= 4; ++n) {
        summaries += script::Summary(n, "big.bin (" + QByteArray::number(n) + "/4)", "p@example");
    }
    const QByteArray padding = QByteArray(60, 'x').append('\n').repeated(3000);
    ListGroup(4, summaries,
              script::Article(4, "Subject: big.bin (4/4)", part(4)) +
                  script::Article(1, "Subject: big.bin (1/4)", part(1)) +
                  script::Article(2, "Subject: big.bin (2/4)", padding + part(2)) +
                  script::Article(3, "Subject: big.bin (3/4)", part(3)));
    GetArticle(4);
    const auto clickAbort = [this] {
        QMetaObject::invokeMethod(form.Button8, &QPushButton::click, Qt::QueuedConnection);
    };
    if (row.abort == TUnfinishedCase::WhilePart2Arrives) {
        TQRNNTP& client = *form.QRNNTP1;
        client.OnArticleProgress = [&, show = client.OnArticleProgress](qint64 bytes) {
            if (client.RequestedArticle() == 2) {
                clickAbort();
            }
            show(bytes);
        };
    } else if (row.abort == TUnfinishedCase::AfterTheFirstPartWritten) {
        QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, &form, [&] {
            if (form.ProgressBar1->format().startsWith(u"1 of 4 parts"_s)) {
                clickAbort();
            }
        });
    }
    AnswerFileDialog(folder.path());
    form.Button22->click();
    EXPECT_EQ(FilesIn(folder.path()), QStringList());
    EXPECT_EQ(form.StatusText(), QString::fromUtf8(row.status));
    EXPECT_TRUE(form.ProgressBar1->isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    Stops, UnfinishedSaveTest,
    ::testing::Values(
        TUnfinishedCase{"AbortWhileAPartArrives", TUnfinishedCase::WhilePart2Arrives, false,
                        "Nothing saved; big.bin is not saved: parts 2, 3 of 4 are missing"},
        TUnfinishedCase{"AbortBetweenParts", TUnfinishedCase::AfterTheFirstPartWritten, false,
                        "Nothing saved; big.bin is not saved: parts 1, 2, 3 of 4 are missing"},
        TUnfinishedCase{"PartCrcMismatch", TUnfinishedCase::NoAbort, true,
                        "Nothing saved; big.bin is not saved: CRC32 mismatch in the yEnc part 2 "
                        "of big.bin"}),
    [](const ::testing::TestParamInfo<TUnfinishedCase>& info) {
        return std::string(info.param.name);
    });

// A disk that fills up while a file is written: the status bar says so, and nothing is left
// in the folder, half written or under another name.
TEST_F(AttachmentsTest, AFileThatDoesNotFitOnTheDiskLeavesNothingHalfWritten) {
    QTemporaryDir folder;
    const QByteArray file = RandomBytes(100000, 4);
    ShowArticle("Subject: big", YEncBlock(file, "big.bin").replace("\r\n", "\n").trimmed());
    AnswerFileDialog(folder.path());
    {
        const TFileSizeLimit full(50000);
        form.Button22->click();
    }
    EXPECT_EQ(FilesIn(folder.path()), QStringList());
    EXPECT_TRUE(form.StatusText().startsWith(u"Nothing saved; big.bin is not saved: Cannot write "
                                             "file "_s +
                                             folder.filePath(u".big.bin.partial"_s)))
        << form.StatusText().toStdString();
}

TEST_F(AttachmentsTest, AFileJoinedFromPartsIsCheckedAgainstItsCrc32) {
    QTemporaryDir folder;
    QByteArray wrongCrc = PartOfAbcdef(1, "\x8b\x8c");
    wrongCrc.replace("crc32=4b8e39ef", "crc32=00000000");
    ListGroup(3,
              script::Summary(1, "big.bin (1/3)", "p@example") +
                  script::Summary(2, "big.bin (2/3)", "p@example") +
                  script::Summary(3, "big.bin (3/3)", "p@example"),
              script::Article(1, "Subject: big.bin (1/3)", wrongCrc) +
                  script::Article(2, "Subject: big.bin (2/3)", PartOfAbcdef(2, "\x8d\x8e")) +
                  script::Article(3, "Subject: big.bin (3/3)", PartOfAbcdef(3, "\x8f\x90")));
    GetArticle(1);
    AnswerFileDialog(folder.path());
    form.Button22->click();
    EXPECT_EQ(FileBytes(folder.filePath(u"big.bin"_s)), "abcdef");
    EXPECT_EQ(form.StatusText(), u"Saved "_s + folder.filePath(u"big.bin"_s) +
                                     u"; CRC32 mismatch in big.bin, joined from its parts"_s);
    ExpectScriptPlayed();
}

// A 270-byte file uuencoded (six full lines and the closing "`" line) and cut into three
// articles as posters cut it: two lines each, the "begin" line in the first, the "end" line in
// the last. The second has a remark of the poster's above its lines.
struct TUuInThreeParts {
    QByteArray file;
    QList<QByteArray> bodies;
};

TUuInThreeParts UuFileInThreeParts() {
    TUuInThreeParts parts;
    for (int i = 0; i < 270; ++i) {
        parts.file += static_cast<char>(i * 7);
    }
    QBuffer plain(&parts.file);
    plain.open(QIODevice::ReadOnly);
    QByteArray encoded;
    QBuffer out(&encoded);
    out.open(QIODevice::WriteOnly);
    UUEEncode(plain, out);
    const QList<QByteArray> lines = encoded.trimmed().split('\n');
    const auto line = [&lines](int i) { return lines[i].trimmed(); };
    parts.bodies = {"begin 644 holiday.jpg\n" + line(0) + '\n' + line(1),
                    "here is more\n\n" + line(2) + '\n' + line(3),
                    line(4) + '\n' + line(5) + '\n' + line(6) + "\nend"};
    return parts;
}

struct TUuPartsCase {
    const char* name;
    QList<int> listed;  // the parts the summary lists beside part 2, the one shown
    QList<int> fetched; // the parts fetched to save the file
    const char* status; // %1 the folder
};

void PrintTo(const TUuPartsCase& row, std::ostream* out) {
    *out << row.name;
}

class UuPartsTest : public AttachmentsTest, public ::testing::WithParamInterface<TUuPartsCase> {};

TEST_P(UuPartsTest, SaveOnAnyPartJoinsTheFileInOrderOrNamesThePartsMissing) {
    const TUuPartsCase& row = GetParam();
    const TUuInThreeParts uu = UuFileInThreeParts();
    const auto subject = [](int n) { return "\"holiday.jpg\" (" + QByteArray::number(n) + "/3)"; };
    QByteArray summaries;
    for (int n = 1; n <= 3; ++n) {
        if (n == 2 || row.listed.contains(n)) {
            summaries += script::Summary(n, subject(n), "p@example");
        }
    }
    QByteArray articles = script::Article(2, "Subject: " + subject(2), uu.bodies[1]);
    for (const int n : row.fetched) {
        articles += script::Article(n, "Subject: " + subject(n), uu.bodies[n - 1]);
    }
    ListGroup(3, summaries, articles);
    GetArticle(2);
    EXPECT_EQ(PaneText(form.Memo1), u"holiday.jpg \u2014 about 90 bytes, uuencoded, part 2 of 3"_s);
    EXPECT_EQ(PaneText(form.Memo2), u"here is more\n\n[uuencoded: holiday.jpg, about 90 bytes]"_s);

    QTemporaryDir folder;
    CursorToFile(0);
    AnswerFileDialog(folder.path());
    ChooseFromContextMenu(form.Memo1, u"Save"_s);
    EXPECT_EQ(form.StatusText(), QString::fromUtf8(row.status).arg(folder.path()));
    if (row.fetched.isEmpty()) {
        EXPECT_TRUE(FilesIn(folder.path()).isEmpty());
    } else {
        EXPECT_EQ(FilesIn(folder.path()), QStringList{u"holiday.jpg"_s});
        EXPECT_TRUE(FileBytes(folder.filePath(u"holiday.jpg"_s)) == uu.file);
    }
    ExpectScriptPlayed();
    EXPECT_TRUE(form.ProgressBar1->isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    Listed, UuPartsTest,
    ::testing::Values(
        TUuPartsCase{"Every", {1, 3}, {1, 3}, "Saved %1/holiday.jpg"},
        TUuPartsCase{"NotTheLast",
                     {1},
                     {},
                     "Nothing saved; holiday.jpg is not saved: part 3 of 3 is missing"},
        TUuPartsCase{"OnlyTheOneShown",
                     {},
                     {},
                     "Nothing saved; holiday.jpg is not saved: parts 1, 3 of 3 are missing"}),
    [](const ::testing::TestParamInfo<TUuPartsCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(AttachmentsTest, OpenHandsAPictureToTheDesktopAndNeverAFileThatWouldRun) {
    TUrlRecorder desktop;
    const QByteArray elf = "\x7f"
                           "ELF\x02\x01\x01";
    // "\x7fELF" uuencoded with its length character: an executable under a harmless name.
    ShowArticle("Subject: open", YEncAbc("p.png") + "\n" + YEncAbc("setup.exe") + "\n" +
                                     YEncAbc("run.sh") +
                                     "\nbegin 644 photo.jpg\n$?T5,1@``\n`\nend");
    const QStringList refused{u"setup.exe"_s, u"run.sh"_s, u"photo.jpg"_s};
    for (int line = 1; line <= 3; ++line) {
        CursorToFile(line);
        ChooseFromContextMenu(form.Memo1, u"Open"_s);
        EXPECT_EQ(form.StatusText(), refused[line - 1] +
                                         u" is not opened: it would run as a program. Save it "
                                         "to look at it."_s);
    }
    EXPECT_TRUE(desktop.urls.isEmpty());
    EXPECT_TRUE(FilesIn(OpenedFolder()).isEmpty());

    CursorToFile(0);
    ChooseFromContextMenu(form.Memo1, u"Open"_s);
    const QString opened = OpenedFolder() + u"/p.png"_s;
    EXPECT_EQ(desktop.urls, QList<QUrl>{QUrl::fromLocalFile(opened)});
    EXPECT_EQ(FileBytes(opened), "abc");
    EXPECT_EQ(form.StatusText(), u"Opened "_s + opened);
}

// Open's folder keeps the files of the last day; older ones go when Open puts a new one there.
// Nothing else is touched: a folder inside, a link, and what a link points to stay.
TEST_F(AttachmentsTest, OpenRemovesTheFilesItLeftMoreThanADayAgoAndNothingElse) {
    TUrlRecorder desktop;
    QTemporaryDir outside;
    ASSERT_TRUE(QDir().mkpath(OpenedFolder() + u"/inner"_s));
    const QDateTime twoDaysAgo = QDateTime::currentDateTime().addDays(-2);
    const auto fileOfAge = [](const QString& path, const QDateTime& modified) {
        WriteFile(path, "x");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    };
    const struct {
        const char* what;
        QString path;
        bool kept;
    } entries[] = {
        {"a file from two days ago", OpenedFolder() + u"/old.png"_s, false},
        {"a hidden one as old", OpenedFolder() + u"/.old"_s, false},
        {"a file from an hour ago", OpenedFolder() + u"/new.png"_s, true},
        {"an old file in a folder inside", OpenedFolder() + u"/inner/old.png"_s, true},
        {"an old file outside, linked to from the folder", outside.filePath(u"mine.txt"_s), true},
    };
    for (const auto& entry : entries) {
        fileOfAge(entry.path, entry.kept && QString::fromLatin1(entry.what).contains(u"hour")
                                  ? QDateTime::currentDateTime().addSecs(-3600)
                                  : twoDaysAgo);
    }
    ASSERT_TRUE(QFile::link(outside.filePath(u"mine.txt"_s), OpenedFolder() + u"/link.txt"_s));
    ShowArticle("Subject: open", YEncAbc("p.png"));
    CursorToFile(0);
    ChooseFromContextMenu(form.Memo1, u"Open"_s);
    for (const auto& entry : entries) {
        EXPECT_EQ(QFileInfo::exists(entry.path), entry.kept) << entry.what;
    }
    EXPECT_TRUE(QFileInfo(OpenedFolder() + u"/link.txt"_s).isSymLink());
    EXPECT_EQ(FilesIn(OpenedFolder()), (QStringList{u"link.txt"_s, u"new.png"_s, u"p.png"_s}));
}

#include "attachments_test.moc"
