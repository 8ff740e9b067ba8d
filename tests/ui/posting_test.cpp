// The posting page: composing (Quote, Indent, Sign), attachments, and the posts the two post
// buttons send.
#include "window.h"

#include "modal.h"
#include "wait.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimeZone>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray kParentHeader = "From: Ann <ann@example>\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n"
                                 "Subject: question\nMessage-ID: <2@example>\n"
                                 "References: <0@example> <1@example>";

// A server that takes the next post, whatever its lines: its replies go out at once and wait
// for the client to read them. Only for the last post of a conversation.
QByteArray AcceptingAnyPost() {
    return "C: POST\nS: 340 send article\nS: 240 article posted\n";
}

// A server that reads a post of exactly that many lines between POST and the final ".", and
// answers it with reply.
QByteArray Post(int articleLines, const QByteArray& reply) {
    QByteArray lines = "C: POST\nS: 340 send article\n";
    for (int i = 0; i < articleLines; ++i) {
        lines += "C: *\n";
    }
    return lines + "C: .\nS: " + reply + '\n';
}

} // namespace

class PostingTest : public GroupWindowTest {
protected:
    // The group is open and the parent shown; the given conversation follows.
    void ShowParent(const QByteArray& header, const QByteArray& body,
                    const QByteArray& conversation = QByteArray()) {
        ListSmallGroup(3, script::Article(2, header, body) + conversation);
        GetArticle(2);
    }

    void Compose(const QString& text) { form.Memo5->setPlainText(text); }

    // Selects count characters of the compose pane from position.
    void SelectInCompose(int position, int count) {
        QTextCursor cursor = form.Memo5->textCursor();
        cursor.setPosition(position);
        cursor.setPosition(position + count, QTextCursor::KeepAnchor);
        form.Memo5->setTextCursor(cursor);
    }

    // The lines of the last post, from the header to the final "." the server has received.
    QList<QByteArray> LastPost() const {
        EXPECT_TRUE(WaitUntil([this] { return server.Received().last() == "."; }));
        const QList<QByteArray>& lines = server.Received();
        return lines.mid(lines.lastIndexOf("POST") + 1);
    }

    // The post's header lines, Date left out.
    QList<QByteArray> HeaderOf(const QList<QByteArray>& post) const {
        QList<QByteArray> header = post.mid(0, post.indexOf(QByteArray()));
        header.removeIf([](const QByteArray& line) { return line.startsWith("Date: "); });
        return header;
    }

    // The post's body lines, without the final ".".
    QList<QByteArray> BodyOf(const QList<QByteArray>& post) const {
        QList<QByteArray> body = post.mid(post.indexOf(QByteArray()) + 2);
        body.removeLast();
        return body;
    }
};

// ---------------------------------------------------------------------------------------------
// Posting

TEST_F(PostingTest, PostNewThreadSendsTheFieldsAndTheBodyToTheOpenGroup) {
    ShowParent(kParentHeader, "body", AcceptingAnyPost());
    form.Edit3->setText(u"user"_s);
    form.Edit4->setText(u"secret"_s);
    form.Edit9->setText(u"me@example"_s);
    form.Edit10->setText(u"reply@example"_s);
    form.Edit11->setText(u"Plain"_s);
    Compose(u"first\n.dot line\n\nlast\n"_s);
    form.Button12->click();

    const QList<QByteArray> post = LastPost();
    EXPECT_EQ(HeaderOf(post), (QList<QByteArray>{"X-Newsreader: ZK News Reader", "From: me@example",
                                                 "ReplyTo: reply@example", "Subject: Plain",
                                                 "Newsgroups: zk.test.small"}));
    EXPECT_EQ(post.mid(post.indexOf(QByteArray())),
              (QList<QByteArray>{"", "", "first", "..dot line", "", "last", "."}));
    EXPECT_EQ(presenter.infos, QList<QString>{u"Article Posted"_s});
    EXPECT_EQ(form.QRNNTP1->UserId, "user");
    EXPECT_EQ(form.QRNNTP1->Password, "secret");
    ExpectScriptPlayed();
}

TEST_F(PostingTest, AReplyToAUtf8ArticleQuotesItReadableAndGoesOutAsDeclaredUtf8) {
    ShowParent("From: =?UTF-8?Q?Zo=C3=AB?= <zoe@example>\nDate: today\n"
               "Subject: =?UTF-8?B?U2Now7ZuZSBHcsO8w59l?=\nMessage-ID: <2@example>\n"
               "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit",
               "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
               "e \xE2\x80\x94 Zo\xC3\xAB",
               Post(14, "240 article posted") + AcceptingAnyPost());
    EXPECT_EQ(form.Label10->text(), u"[2] Schöne Grüße [today]"_s);
    EXPECT_EQ(form.StatusText(), u"From :Zoë <zoe@example>  Lines="_s);
    EXPECT_EQ(form.Edit11->text(), u"Re: Schöne Grüße"_s);
    form.Button17Click();
    EXPECT_EQ(PaneText(form.Memo5),
              u"Zoë <zoe@example> wrote on today :-\n> Schöne Grüße — Zoë\n\n"_s);
    form.Edit9->setText(u"Jürgen <j@example>"_s);
    form.Button7Click();
    const QList<QByteArray> post = LastPost();
    EXPECT_EQ(HeaderOf(post),
              (QList<QByteArray>{
                  "X-Newsreader: ZK News Reader", "From: =?UTF-8?B?SsO8cmdlbg==?= <j@example>",
                  "Subject: Re: =?UTF-8?B?U2Now7ZuZSBHcsO8w59l?=", "Newsgroups: zk.test.small",
                  "References:  <2@example>", "MIME-Version: 1.0",
                  "Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: 8bit"}));
    EXPECT_EQ(BodyOf(post), (QList<QByteArray>{"Zo\xC3\xAB <zoe@example> wrote on today :-",
                                               "> Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                               "e \xE2\x80\x94 Zo\xC3\xAB",
                                               ""}));
    // A plain ASCII post after it goes out without the declaration.
    form.Edit9->setText(u"j@example"_s);
    form.Edit11->setText(u"Plain"_s);
    Compose(u"ascii"_s);
    form.Button12Click();
    EXPECT_EQ(HeaderOf(LastPost()),
              (QList<QByteArray>{"X-Newsreader: ZK News Reader", "From: j@example",
                                 "Subject: Plain", "Newsgroups: zk.test.small"}));
    ExpectScriptPlayed();
}

TEST_F(PostingTest, TheDateIsTheCurrentUniversalTimeWithEnglishNames) {
    ShowParent(kParentHeader, "body", AcceptingAnyPost());
    QLocale::setDefault(QLocale(QLocale::German));
    form.Button12Click();
    QLocale::setDefault(QLocale::c());
    const QList<QByteArray> post = LastPost();
    const auto date = std::find_if(post.cbegin(), post.cend(), [](const QByteArray& line) {
        return line.startsWith("Date: ");
    });
    ASSERT_NE(date, post.cend());
    const QString text = QString::fromLatin1(date->mid(6));
    EXPECT_TRUE(QRegularExpression(u"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [1-9]\\d? "
                                   u"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
                                   u"\\d\\d:\\d\\d:\\d\\d -0000$"_s)
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    QDateTime sent = QDateTime::fromString(text.chopped(6), u"ddd, d MMM yyyy hh:mm:ss"_s);
    sent.setTimeZone(QTimeZone::utc());
    EXPECT_LT(std::abs(sent.secsTo(QDateTime::currentDateTimeUtc())), 120);
}

TEST_F(PostingTest, AReplyNamesTheParentAndANewThreadAfterItNamesNone) {
    ShowParent(kParentHeader, "body", Post(9, "240 article posted") + AcceptingAnyPost());
    form.Edit9->setText(u"me@example"_s);
    form.Edit11->setText(u"Re: question"_s);
    Compose(u"answer"_s);
    form.Button7Click();
    QList<QByteArray> header = HeaderOf(LastPost());
    EXPECT_EQ(header.last(), "References: <0@example> <1@example> <2@example>");

    // The same text once more goes out when the person says so.
    presenter.confirmAnswers = {true};
    form.Button12Click();
    EXPECT_EQ(presenter.questions.size(), 1);
    header = HeaderOf(LastPost());
    EXPECT_FALSE(std::any_of(header.cbegin(), header.cend(),
                             [](const QByteArray& line) { return line.startsWith("References"); }));
    ExpectScriptPlayed();
}

TEST_F(PostingTest, AReplyToAnArticleWithoutMessageIdEndsItsReferencesWithASpace) {
    ShowParent("Subject: q\nReferences: <1@example>", "body", AcceptingAnyPost());
    form.Button7Click();
    EXPECT_EQ(HeaderOf(LastPost()).last(), "References: <1@example> ");
}

TEST_F(PostingTest, AFailedPostKeepsEverythingAndTheSameArticleCanBeSentAgain) {
    const QString file = settings.filePath(u"note.txt"_s);
    QFile note(file);
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.write("hello\n");
    note.close();
    // Header 5, two empty lines, body 1; the attachment: 2 empty lines, begin, 1 data line, end,
    // 2 empty lines.
    ShowParent(kParentHeader, "body",
               Post(5 + 2 + 1 + 2 + 1 + 1 + 1 + 2, "441 posting failed") + AcceptingAnyPost());
    form.Edit9->setText(u"me@example"_s);
    form.Edit11->setText(u"try"_s);
    form.ListBox2->addItem(file);
    Compose(u"text"_s);
    form.Button12->click();
    ASSERT_TRUE(WaitUntil([this] { return server.Received().count("POST") == 1; }));
    QList<QByteArray> refused = server.Received();
    refused = refused.mid(refused.indexOf("POST") + 1);
    EXPECT_EQ(presenter.infos, (QList<QString>{u"Post Failed. Error: 441; 441 posting failed"_s,
                                               u"Posting Failed"_s}));
    EXPECT_EQ(PaneText(form.Memo5), u"text"_s);
    EXPECT_EQ(form.Edit11->text(), u"try"_s);
    ASSERT_EQ(form.ListBox2->count(), 1);
    EXPECT_TRUE(refused.contains("begin 666 note.txt"));

    form.Button12->click();
    EXPECT_EQ(presenter.infos.last(), u"Article Posted"_s);
    EXPECT_EQ(BodyOf(LastPost()), BodyOf(refused));
    ExpectScriptPlayed();
}

TEST_F(PostingTest, APostAskedForDuringARunningRetrievalIsNotMade) {
    ShowParent(kParentHeader, "body", script::Article(3, "Subject: retrieved", "3"));
    Compose(u"text"_s);
    bool clicked = false;
    WhenProgressIsShown([&] {
        form.Button12->click();
        clicked = true;
    });
    GetArticle(3);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(form.HeaderValue(u"subject: "_s), u"retrieved"_s);
    EXPECT_FALSE(server.Received().contains("POST"));
    EXPECT_EQ(form.QRNNTP1->PostBody.Count(), 0);
    EXPECT_TRUE(presenter.infos.isEmpty());
    ExpectScriptPlayed();
}

TEST_F(PostingTest, ALongParagraphIsPostedAsTheLinesThePaneWrappedItInto) {
    ShowParent(kParentHeader, "body", AcceptingAnyPost());
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    form.Memo5->setFixedWidth(260);
    QString paragraph;
    for (int i = 0; i < 40; ++i) {
        paragraph += u"word"_s + QString::number(i) + u' ';
    }
    paragraph = paragraph.trimmed();
    Compose(u"short\n"_s + paragraph + u"\nend"_s);
    ASSERT_TRUE(WaitUntil([this] { return form.Memo5->isVisible(); }));
    form.Button12Click();

    const QList<QByteArray> body = BodyOf(LastPost());
    ASSERT_GT(body.size(), 4);
    EXPECT_EQ(body.first(), "short");
    EXPECT_EQ(body.last(), "end");
    const QList<QByteArray> wrapped = body.mid(1, body.size() - 2);
    EXPECT_EQ(wrapped.join(), paragraph.toLatin1());
    const QFontMetrics metrics(form.Memo5->font());
    for (const QByteArray& line : wrapped) {
        EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(line).trimmed()),
                  form.Memo5->viewport()->width())
            << line.constData();
    }
}

// ---------------------------------------------------------------------------------------------
// Quote, Indent, Sign

TEST_F(PostingTest, QuoteWithoutSelectionQuotesTheWholeBodyUnderAWroteOnLine) {
    ShowParent(kParentHeader, "line one\n\n  line three\n\n");
    form.Button17->click();
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet2);
    EXPECT_EQ(PaneText(form.Memo5),
              u"Ann <ann@example> wrote on Mon, 1 Jan 2024 10:00:00 +0000 :-\n"
              u"> line one\n> \n>   line three\n\n"_s);
}

TEST_F(PostingTest, QuoteWithASelectionQuotesOnlyTheSelection) {
    ShowParent(kParentHeader, "line one\n\nline three");
    QTextCursor cursor = form.Memo2->textCursor();
    cursor.setPosition(5);
    cursor.setPosition(15, QTextCursor::KeepAnchor);
    form.Memo2->setTextCursor(cursor);
    Compose(u"replaced"_s);
    form.Button17Click();
    EXPECT_EQ(PaneText(form.Memo5),
              u"Ann <ann@example> wrote on Mon, 1 Jan 2024 10:00:00 +0000 :-\n"
              u"> one\n> \n> line\n\n"_s);
}

TEST_F(PostingTest, QuoteOfAnEmptyBodyGivesTheWroteOnLineAndTwoEmptyLines) {
    ShowParent("From: x@example\nSubject: empty", "");
    form.Button17Click();
    EXPECT_EQ(PaneText(form.Memo5), u"x@example wrote on  :-\n\n"_s);
    EXPECT_EQ(form.Memo5->document()->blockCount(), 3);
}

TEST_F(PostingTest, IndentPrefixesEverySelectedLineAndDropsTrailingEmptyLines) {
    StartUp();
    Compose(u"before\na\n\nb\n\n\nafter"_s);
    form.Button15Click();
    EXPECT_EQ(PaneText(form.Memo5), u"before\na\n\nb\n\n\nafter"_s);

    SelectInCompose(7, 7); // "a\n\nb\n\n\n"
    form.Button15->click();
    EXPECT_EQ(PaneText(form.Memo5), u"before\n> a\n> \n> b\nafter"_s);
}

TEST_F(PostingTest, SignTwiceAppendsTheFromAddressTwiceEachAfterOneEmptyLine) {
    StartUp();
    form.Edit9->setText(u"me@example"_s);
    Compose(u"Hello\n\n \n"_s);
    form.Button16->click();
    form.Button16->click();
    EXPECT_EQ(PaneText(form.Memo5), u"Hello\n\nme@example\n\nme@example"_s);
}

// ---------------------------------------------------------------------------------------------
// Attachments

TEST_F(PostingTest, AddAppendsTheChosenFileEachTimeAndRemoveTakesOnlyTheSelectedOne) {
    StartUp();
    const QString file = settings.filePath(u"a.txt"_s);
    QFile(file).open(QIODevice::WriteOnly);
    for (int i = 0; i < 2; ++i) {
        AnswerFileDialog(file);
        form.Button5->click();
    }
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    form.Button5->click();
    ASSERT_EQ(form.ListBox2->count(), 2);
    EXPECT_EQ(form.ListBox2->item(1)->text(), file);

    form.ListBox2->clearSelection();
    form.Button6->click();
    EXPECT_EQ(form.ListBox2->count(), 2);
    form.ListBox2->item(0)->setSelected(true);
    form.Button6->click();
    EXPECT_EQ(form.ListBox2->count(), 1);
}

// ---------------------------------------------------------------------------------------------
// Newsgroups and Followup-To

namespace {

// The value of a header line of the post; empty when it has none.
QByteArray HeaderLine(const QList<QByteArray>& header, const QByteArray& name) {
    for (const QByteArray& line : header) {
        if (line.startsWith(name + ": ")) {
            return line.mid(name.size() + 2);
        }
    }
    return QByteArray();
}

// Types text into a field as a person does: the old text selected and typed over. Text
// beyond ASCII, which the test keyboard does not have, is pasted.
void TypeInto(QLineEdit* field, const QString& text) {
    field->selectAll();
    field->del();
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
        QTest::keyClicks(field, text);
    } else {
        field->insert(text);
    }
}

const QString kReplyByMail = u"The author asked for replies by mail (Followup-To: poster): "
                             u"nothing is posted until Newsgroups names the groups to post to."_s;

} // namespace

struct TReplyGroupsCase {
    const char* name;
    const char* parentFields; // the parent's header lines beside From, Subject, Message-ID
    const char* filled;       // the Newsgroups field once the reply starts
    const char* sent;         // the Newsgroups of the reply
};

void PrintTo(const TReplyGroupsCase& row, std::ostream* out) {
    *out << row.name;
}

class ReplyGroupsTest : public PostingTest,
                        public ::testing::WithParamInterface<TReplyGroupsCase> {};

// Quote starts a reply: the field says where it goes, and the post goes there.
TEST_P(ReplyGroupsTest, TheReplyGoesWhereTheParentAsks) {
    const TReplyGroupsCase& row = GetParam();
    QByteArray header = "From: Ann <ann@example>\nSubject: question\nMessage-ID: <2@example>";
    if (*row.parentFields != '\0') {
        header += '\n' + QByteArray(row.parentFields);
    }
    ShowParent(header, "body", AcceptingAnyPost());
    EXPECT_EQ(form.Edit13->text(), QString::fromLatin1(row.filled));
    form.Button17->click();
    EXPECT_EQ(form.Edit13->text(), QString::fromLatin1(row.filled));
    EXPECT_TRUE(form.Edit14->text().isEmpty());
    form.Button7->click();
    const QList<QByteArray> header2 = HeaderOf(LastPost());
    EXPECT_EQ(HeaderLine(header2, "Newsgroups"), row.sent);
    EXPECT_EQ(HeaderLine(header2, "Followup-To"), QByteArray());
    EXPECT_EQ(presenter.infos, QList<QString>{u"Article Posted"_s});
    EXPECT_EQ(form.StatusText(), u"Article posted to "_s + QString::fromLatin1(row.sent));
}

INSTANTIATE_TEST_SUITE_P(
    ParentHeaders, ReplyGroupsTest,
    ::testing::Values(
        TReplyGroupsCase{"NoNewsgroups", "", "zk.test.small", "zk.test.small"},
        TReplyGroupsCase{"Newsgroups", "Newsgroups: zk.test.misc", "zk.test.misc", "zk.test.misc"},
        TReplyGroupsCase{"FollowupTo", "Newsgroups: zk.test.small\nFollowup-To: zk.test.misc",
                         "zk.test.misc", "zk.test.misc"},
        TReplyGroupsCase{"SeveralNewsgroups", "Newsgroups: zk.test.small, zk.test.misc",
                         "zk.test.small, zk.test.misc", "zk.test.small,zk.test.misc"},
        TReplyGroupsCase{"SeveralFollowupTo", "Newsgroups: zk.test.small\nFollowup-To: zk.a,zk.b",
                         "zk.a,zk.b", "zk.a,zk.b"}),
    [](const ::testing::TestParamInfo<TReplyGroupsCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(PostingTest, AReplyToAPosterFollowupIsRefusedUntilThePersonNamesTheGroups) {
    ShowParent("From: Ann <ann@example>\nSubject: question\nMessage-ID: <2@example>\n"
               "Newsgroups: zk.test.small\nFollowup-To: poster",
               "body\n-- \nAnn", AcceptingAnyPost());
    EXPECT_EQ(form.Edit13->text(), u"poster"_s);
    form.Button17->click();
    EXPECT_EQ(presenter.infos, QList<QString>{kReplyByMail});
    EXPECT_EQ(form.StatusText(), kReplyByMail);
    const QString quoted = PaneText(form.Memo5);

    form.Button7->click();
    EXPECT_EQ(presenter.infos.last(), kReplyByMail);
    EXPECT_EQ(form.StatusText(), u"Not posted: "_s + kReplyByMail);
    EXPECT_FALSE(server.Received().contains("POST"));
    EXPECT_EQ(PaneText(form.Memo5), quoted);

    TypeInto(form.Edit13, u"zk.test.small"_s);
    form.Button7->click();
    EXPECT_EQ(HeaderLine(HeaderOf(LastPost()), "Newsgroups"), "zk.test.small");
    EXPECT_EQ(presenter.infos.last(), u"Article Posted"_s);
    ExpectScriptPlayed();
}

struct TDestinationCase {
    const char* name;
    const char* newsgroups; // typed into the Newsgroups field
    const char* followupTo; // typed into the Followup-To field
    // The headers sent ("Newsgroups|Followup-To"); empty when refused with the message given.
    const char* sent;
    const char* refusal;
};

void PrintTo(const TDestinationCase& row, std::ostream* out) {
    *out << row.name;
}

class DestinationFieldsTest : public PostingTest,
                              public ::testing::WithParamInterface<TDestinationCase> {};

TEST_P(DestinationFieldsTest, ValidListsAreSentAndOthersRefusedBeforeAnythingIsSent) {
    const TDestinationCase& row = GetParam();
    const bool refused = *row.refusal != '\0';
    ShowParent(kParentHeader, "body", refused ? QByteArray() : AcceptingAnyPost());
    form.Edit11->setText(u"new"_s);
    Compose(u"text"_s);
    TypeInto(form.Edit13, QString::fromUtf8(row.newsgroups));
    TypeInto(form.Edit14, QString::fromUtf8(row.followupTo));
    form.Button12->click();
    if (refused) {
        EXPECT_EQ(presenter.infos, QList<QString>{QString::fromUtf8(row.refusal)});
        EXPECT_EQ(form.StatusText(), u"Not posted: "_s + QString::fromUtf8(row.refusal));
        EXPECT_FALSE(server.Received().contains("POST"));
        EXPECT_EQ(PaneText(form.Memo5), u"text"_s);
        EXPECT_EQ(form.Edit13->text(), QString::fromUtf8(row.newsgroups));
        return;
    }
    const QList<QByteArray> header = HeaderOf(LastPost());
    EXPECT_EQ(HeaderLine(header, "Newsgroups") + '|' + HeaderLine(header, "Followup-To"), row.sent);
    EXPECT_EQ(header.count(QByteArray("Followup-To: ")), 0);
    ExpectScriptPlayed();
}

INSTANTIATE_TEST_SUITE_P(
    FieldInputs, DestinationFieldsTest,
    ::testing::Values(
        TDestinationCase{"OneGroup", "zk.test.misc", "", "zk.test.misc|", ""},
        TDestinationCase{"BlanksAroundCommas", " zk.test.small ,  zk.test.misc ", "",
                         "zk.test.small,zk.test.misc|", ""},
        TDestinationCase{"EmptyEntries", "zk.test.small,,zk.test.misc,", "",
                         "zk.test.small,zk.test.misc|", ""},
        TDestinationCase{"FollowupToAGroup", "zk.test.small", "zk.test.misc",
                         "zk.test.small|zk.test.misc", ""},
        TDestinationCase{"FollowupToPoster", "zk.test.small", " poster ", "zk.test.small|poster",
                         ""},
        TDestinationCase{"BlankInsideAName", "zk.test small", "", "",
                         "Newsgroups: \"zk.test small\" is not a group name: a name has no "
                         "blanks, control characters or letters other than ASCII. Separate "
                         "groups with commas."},
        TDestinationCase{"NotAscii", "zk.tëst", "", "",
                         "Newsgroups: \"zk.tëst\" is not a group name: a name has no blanks, "
                         "control characters or letters other than ASCII. Separate groups with "
                         "commas."},
        TDestinationCase{"Empty", "", "", "",
                         "Newsgroups names no group: enter the group to post to."},
        TDestinationCase{"OnlyCommas", " , ,", "", "",
                         "Newsgroups names no group: enter the group to post to."},
        TDestinationCase{"NewsgroupsPoster", "poster", "", "",
                         "The author asked for replies by mail (Followup-To: poster): nothing is "
                         "posted until Newsgroups names the groups to post to."},
        TDestinationCase{"BlankInsideFollowupTo", "zk.test.small", "zk.a b", "",
                         "Followup-To: \"zk.a b\" is not a group name: a name has no blanks, "
                         "control characters or letters other than ASCII. Separate groups with "
                         "commas."},
        TDestinationCase{"PosterWithGroups", "zk.test.small", "poster,zk.test.misc", "",
                         "Followup-To: \"poster\" asks for replies by mail and stands alone, "
                         "without groups."}),
    [](const ::testing::TestParamInfo<TDestinationCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(PostingTest, TheFieldsAreNamedAndNewsgroupsIsTheGroupListed) {
    ListSmallGroup(3);
    EXPECT_EQ(form.Edit13->text(), u"zk.test.small"_s);
    EXPECT_EQ(form.Label23->text(), u"Newsgroups"_s);
    EXPECT_EQ(form.Label24->text(), u"Followup-To"_s);
    EXPECT_EQ(form.Label25->text(), u"Signature file"_s);
}

// ---------------------------------------------------------------------------------------------
// Posting twice

TEST_F(PostingTest, TheSameTextOnceMoreIsPostedOnlyWhenThePersonSaysSo) {
    ShowParent(kParentHeader, "body", Post(7, "240 article posted") + AcceptingAnyPost());
    form.Edit11->setText(u"once"_s);
    Compose(u"text"_s);
    form.Button12->click();
    ASSERT_EQ(presenter.infos, QList<QString>{u"Article Posted"_s});
    EXPECT_EQ(form.StatusText(), u"Article posted to zk.test.small"_s);
    EXPECT_EQ(PaneText(form.Memo5), u"text"_s);
    EXPECT_EQ(form.Edit11->text(), u"once"_s);

    // A second click, either button: asked, declined, nothing sent.
    for (QPushButton* button : {form.Button12, form.Button7}) {
        const qsizetype sent = CommandsSent();
        button->click();
        ASSERT_FALSE(presenter.questions.isEmpty());
        EXPECT_TRUE(presenter.questions.last().text.endsWith(
            u"This text was already posted once. Post it again ?"_s));
        EXPECT_EQ(CommandsSent(), sent);
        EXPECT_EQ(form.StatusText(), u"Not posted again"_s);
        EXPECT_EQ(PaneText(form.Memo5), u"text"_s);
    }
    EXPECT_EQ(presenter.questions.size(), 2);

    // A corrected copy goes out without a question.
    Compose(u"text, corrected"_s);
    form.Button12->click();
    EXPECT_EQ(BodyOf(LastPost()), QList<QByteArray>{"text, corrected"});
    EXPECT_EQ(presenter.questions.size(), 2);
    ExpectScriptPlayed();
}

// ---------------------------------------------------------------------------------------------
// The signature

struct TSignatureCase {
    const char* name;
    // What stands at ~/.signature: absent, a file of these bytes, a folder or a pipe.
    enum { Absent, File, Folder, Pipe } kind;
    QByteArray bytes;
    QByteArray pane;    // the compose pane once the posting page shows
    const char* status; // the status bar then; empty when nothing is said
};

void PrintTo(const TSignatureCase& row, std::ostream* out) {
    *out << row.name;
}

class SignatureTest : public PostingTest, public ::testing::WithParamInterface<TSignatureCase> {};

TEST_P(SignatureTest, AnEmptyComposePaneGetsTheSignatureWhenThePostingPageShows) {
    const TSignatureCase& row = GetParam();
    const QString file = settings.filePath(u".signature"_s);
    if (row.kind == TSignatureCase::File) {
        WriteFile(file, row.bytes);
    } else if (row.kind == TSignatureCase::Folder) {
        ASSERT_TRUE(QDir().mkpath(file));
    } else if (row.kind == TSignatureCase::Pipe) {
        ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    }
    StartUp();
    EXPECT_EQ(form.Edit15->text(), u"~/.signature"_s);
    form.SetStatusText(QString());
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    EXPECT_EQ(PaneText(form.Memo5).toUtf8(), row.pane);
    EXPECT_EQ(form.StatusText(), QString::fromUtf8(row.status));
    EXPECT_EQ(form.Memo5->textCursor().position(), 0);

    // Shown again with text in it, the pane is left alone.
    Compose(u"mine"_s);
    form.PageControl1->setCurrentWidget(form.TabSheet1);
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    EXPECT_EQ(PaneText(form.Memo5), u"mine"_s);
}

INSTANTIATE_TEST_SUITE_P(
    SignatureFiles, SignatureTest,
    ::testing::Values(
        TSignatureCase{"Absent", TSignatureCase::Absent, {}, "", ""},
        TSignatureCase{"Utf8", TSignatureCase::File, "J\xC3\xBCrgen\r\nexample.org\n\n",
                       "\n-- \nJürgen\nexample.org", ""},
        TSignatureCase{"Latin1", TSignatureCase::File, "J\xFCrgen\n", "\n-- \nJürgen",
                       "Signature file ~/.signature is not UTF-8: read as Latin-1"},
        TSignatureCase{"TooLarge", TSignatureCase::File, QByteArray(1024 * 1024, 'x'), "",
                       "Signature file ~/.signature is larger than 4 KB (1048576 bytes), too "
                       "large for a signature: not appended"},
        TSignatureCase{"JustSmallEnough", TSignatureCase::File, QByteArray(4096, 'x'),
                       "\n-- \n" + QByteArray(4096, 'x'), ""},
        TSignatureCase{"Folder",
                       TSignatureCase::Folder,
                       {},
                       "",
                       "Signature file ~/.signature is a folder: no signature appended"},
        TSignatureCase{"Pipe",
                       TSignatureCase::Pipe,
                       {},
                       "",
                       "Signature file ~/.signature is not a regular file: no signature appended"}),
    [](const ::testing::TestParamInfo<TSignatureCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(PostingTest, QuoteLeavesTheParentsSignatureOutAndPutsOursUnderTheQuote) {
    WriteFile(settings.filePath(u".signature"_s), "Me\n");
    ShowParent(kParentHeader, "answer\n-- x\n--\n-- \nold\n-- \nAnn\nexample.org");
    form.Button17->click();
    const QString quote = u"Ann <ann@example> wrote on Mon, 1 Jan 2024 10:00:00 +0000 :-\n"
                          u"> answer\n> -- x\n> --\n> -- \n> old\n"_s;
    EXPECT_EQ(PaneText(form.Memo5), quote + u"\n-- \nMe"_s);
    // The caret stands on the empty line under the quote, where the answer goes.
    EXPECT_EQ(form.Memo5->textCursor().position(), quote.size());
}

TEST_F(PostingTest, TheSignatureFileIsKeptWithTheAccountSettings) {
    WriteFile(SettingsFile(kAccountFile), "me@example\r\n\r\n\r\n\r\nsignature ~/sigs/my sig");
    ASSERT_TRUE(QDir(settings.path()).mkpath(u"sigs"_s));
    WriteFile(settings.filePath(u"sigs/my sig"_s), "Me");
    StartUp();
    EXPECT_EQ(form.Edit15->text(), u"~/sigs/my sig"_s);
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    EXPECT_EQ(PaneText(form.Memo5), u"\n-- \nMe"_s);

    TypeInto(form.Edit15, u"/elsewhere/sig"_s);
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(FileBytes(SettingsFile(kAccountFile)).endsWith("\r\nsignature /elsewhere/sig"))
        << FileBytes(SettingsFile(kAccountFile)).toStdString();
    EXPECT_EQ(ParseAccountSettings(FileBytes(SettingsFile(kAccountFile))).signatureFile,
              "/elsewhere/sig");
    EXPECT_EQ(ParseAccountSettings("a\r\nb\r\nc\r\nd\r\nsignature").signatureFile, "");
    EXPECT_EQ(ParseAccountSettings("a\r\nb\r\nc\r\nd").signatureFile, "~/.signature");
    // A path with a line break inside cannot be written back on one line, and is not taken.
    const TAccountSettings broken =
        ParseAccountSettings("a\r\nb\r\nc\r\nd\r\nsignature /s\rt\r\nattachment-folder /f\rg\r\n");
    EXPECT_EQ(broken.signatureFile, "~/.signature");
    EXPECT_EQ(broken.attachmentFolder, "");
}

// ---------------------------------------------------------------------------------------------
// Newsgroups while a post is written

struct TKeptGroupsCase {
    const char* name;
    const char* typedGroups;  // typed into Newsgroups before the next article is read; "" none
    const char* composed;     // typed into the compose pane; "" none
    bool signature;           // the posting page shown first, which puts the signature there
    const char* afterReading; // Newsgroups once article 3 is read
};

void PrintTo(const TKeptGroupsCase& row, std::ostream* out) {
    *out << row.name;
}

class KeptGroupsTest : public PostingTest, public ::testing::WithParamInterface<TKeptGroupsCase> {};

// Reading another article addresses a reply to it only while nothing is written: what the
// person typed stays. Quote always addresses the reply to the article it quotes.
TEST_P(KeptGroupsTest, ReadingAnotherArticleKeepsWhatThePersonTyped) {
    const TKeptGroupsCase& row = GetParam();
    WriteFile(settings.filePath(u".signature"_s), "Me\n");
    ListSmallGroup(3, script::Article(2, "Subject: a\nNewsgroups: zk.test.two", "body") +
                          script::Article(3, "Subject: b\nNewsgroups: zk.test.three", "body"));
    GetArticle(2);
    EXPECT_EQ(form.Edit13->text(), u"zk.test.two"_s);
    if (row.signature) {
        form.PageControl1->setCurrentWidget(form.TabSheet2);
        ASSERT_EQ(PaneText(form.Memo5), u"\n-- \nMe"_s);
    }
    if (*row.typedGroups != '\0') {
        TypeInto(form.Edit13, QString::fromLatin1(row.typedGroups));
    }
    if (*row.composed != '\0') {
        form.Memo5->setFocus();
        QTest::keyClicks(form.Memo5, QString::fromLatin1(row.composed));
    }
    GetArticle(3);
    EXPECT_EQ(form.Edit13->text(), QString::fromLatin1(row.afterReading));

    form.Button17->click();
    EXPECT_EQ(form.Edit13->text(), u"zk.test.three"_s);
}

INSTANTIATE_TEST_SUITE_P(
    WhatWasTyped, KeptGroupsTest,
    ::testing::Values(
        TKeptGroupsCase{"Nothing", "", "", false, "zk.test.three"},
        TKeptGroupsCase{"OnlyTheSignature", "", "", true, "zk.test.three"},
        TKeptGroupsCase{"Groups", "zk.test.mine", "", false, "zk.test.mine"},
        TKeptGroupsCase{"GroupsOverTheSignature", "zk.test.mine", "", true, "zk.test.mine"},
        TKeptGroupsCase{"AText", "", "my answer", false, "zk.test.two"},
        TKeptGroupsCase{"ATextAboveTheSignature", "", "my answer", true, "zk.test.two"}),
    [](const ::testing::TestParamInfo<TKeptGroupsCase>& info) {
        return std::string(info.param.name);
    });
