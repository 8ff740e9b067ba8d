// The full-text search of the stored summaries: what FTS5's query language finds in the
// decoded Subject and From, in which order, and that the index follows every change to the
// summaries it covers.
#include "store/migrations.h"
#include "store/newsstore.h"
#include "testfiles.h"

#include <QByteArrayList>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

struct TSummaryFields {
    qint64 number;
    const char* subject;
    const char* from;
    const char* date;
};

QByteArray LineOf(const TSummaryFields& fields) {
    return QByteArray::number(fields.number) + '\t' + fields.subject + '\t' + fields.from + '\t' +
           fields.date + "\t<" + QByteArray::number(fields.number) + "@example>\t\t1000\t20";
}

QList<TStoredSummary> SummariesOf(std::initializer_list<TSummaryFields> fields) {
    QList<TStoredSummary> summaries;
    for (const TSummaryFields& each : fields) {
        summaries.append({each.number, LineOf(each)});
    }
    return summaries;
}

// Two groups of one server with dates that interleave, a summary with an unreadable date,
// encoded words in a Subject and a From, and a second server whose group has the same name.
class SummarySearchTest : public ::testing::Test {
protected:
    TestDir dir;
    QString path = dir.Path("news.db");
    std::unique_ptr<TNewsStore> store = std::make_unique<TNewsStore>(path);
    qint64 server = store->ServerId(QStringLiteral("news.example.com"), 119);
    qint64 other = store->ServerId(QStringLiteral("other.example.net"), 119);
    // The other server's group between the two of the first, as row ids are handed out.
    qint64 c = store->GroupId(server, "comp.lang.c");
    qint64 otherC = store->GroupId(other, "comp.lang.c");
    qint64 cooking = store->GroupId(server, "de.rec.kochen");

    SummarySearchTest() {
        store->AddSummaries(c,
                            SummariesOf({
                                {1, "Kernel patch for ARM", "Alice Smith <alice@example.com>",
                                 "Mon, 7 Dec 2026 10:00:00 +0000"},
                                {2, "Re: Kernel patch for ARM", "Bob <bob@example.org>",
                                 "Tue, 8 Dec 2026 09:00:00 +0100"},
                                {3, "Build fails on patched compiler",
                                 "Carol Jones <carol@example.net>", "8 Dec 2026 12:00 GMT"},
                                {4, "=?UTF-8?B?w5xiZXIgZGllIEvDvGNoZQ==?=",
                                 "=?ISO-8859-1?Q?J=FCrgen_M=FCller?= <jm@example.de>",
                                 "Wed, 9 Dec 2026 00:00:00 -0500"},
                                {5, "Release notes", "Alice Smith <alice@example.com>", "some day"},
                            }));
        store->AddSummaries(
            cooking,
            SummariesOf({
                {10, "Caf\xc3\xa9 cr\xc3\xa8me recipes", "Dave <dave@example.com>",
                 "Sun, 6 Dec 2026 10:00:00 +0000"},
                {11, "Kernel of corn", "Eve <eve@example.com>", "Wed, 9 Dec 2026 06:00:00 +0000"},
            }));
        store->AddSummaries(otherC,
                            SummariesOf({{1, "Kernel news from elsewhere", "Zed <z@example>",
                                          "Thu, 10 Dec 2026 10:00:00 +0000"}}));
    }

    // The hits as "group:number", in order.
    QByteArrayList Found(qint64 searched, const char* query, QByteArrayView group = {},
                         qsizetype limit = -1) {
        QByteArrayList found;
        for (const TSearchHit& hit :
             store->Search(searched, QString::fromUtf8(query), group, limit)) {
            found << hit.group + ':' + QByteArray::number(hit.number);
        }
        return found;
    }

    // What the index itself holds for a word, stale entries included, which Search would
    // pass over.
    QList<qint64> IndexedRowIds(const char* word) {
        TStatement match(store->Database(),
                         "SELECT rowid FROM summary_text WHERE summary_text MATCH ?1");
        match.Bind(1, QByteArrayView(word));
        QList<qint64> rowIds;
        while (match.Step()) {
            rowIds.append(match.Int(0));
        }
        return rowIds;
    }

    static qint64 RowId(qint64 group, qint64 number) { return (group << 40) | number; }
};

} // namespace

TEST_F(SummarySearchTest, FindsWhatTheQueryLanguageAsks) {
    struct Case {
        const char* query;
        const char* group;
        qsizetype limit;
        QByteArrayList found;
    };
    const QByteArray k11 = "de.rec.kochen:11";
    const QByteArray k10 = "de.rec.kochen:10";
    const Case cases[] = {
        // Newest first across both groups, by the Date in UTC: 11 (9 Dec 06:00) before 2
        // (8 Dec 08:00 UTC) before 1 (7 Dec).
        {"kernel", "", -1, {k11, "comp.lang.c:2", "comp.lang.c:1"}},
        {"KeRnEl", "", -1, {k11, "comp.lang.c:2", "comp.lang.c:1"}},
        {"\"kernel patch\"", "", -1, {"comp.lang.c:2", "comp.lang.c:1"}},
        {"\"patch kernel\"", "", -1, {}},
        {"patch*", "", -1, {"comp.lang.c:3", "comp.lang.c:2", "comp.lang.c:1"}},
        {"kernel AND arm", "", -1, {"comp.lang.c:2", "comp.lang.c:1"}},
        {"kernel arm", "", -1, {"comp.lang.c:2", "comp.lang.c:1"}},
        {"kernel NOT arm", "", -1, {k11}},
        {"corn OR recipes", "", -1, {k11, k10}},
        {"(corn OR recipes) AND dave", "", -1, {k10}},
        // Accents and encoded words: the decoded text is indexed, without its diacritics.
        {"cafe creme", "", -1, {k10}},
        {"caf\xc3\xa9", "", -1, {k10}},
        {"uber kuche", "", -1, {"comp.lang.c:4"}},
        {"\"\xc3\xbc"
         "ber die\"",
         "",
         -1,
         {"comp.lang.c:4"}},
        {"jurgen", "", -1, {"comp.lang.c:4"}},
        {"utf", "", -1, {}},
        // A Date that cannot be read counts as the oldest.
        {"alice", "", -1, {"comp.lang.c:1", "comp.lang.c:5"}},
        {"from:alice", "", -1, {"comp.lang.c:1", "comp.lang.c:5"}},
        {"subject:alice", "", -1, {}},
        {"example", "", 3, {k11, "comp.lang.c:4", "comp.lang.c:3"}},
        {"kernel", "comp.lang.c", -1, {"comp.lang.c:2", "comp.lang.c:1"}},
        {"kernel", "de.rec.kochen", -1, {k11}},
        {"kernel", "no.such.group", -1, {}},
        {"kernel", "", 2, {k11, "comp.lang.c:2"}},
        {"kernel", "comp.lang.c", 1, {"comp.lang.c:2"}},
        {"kernel", "", 0, {}},
        {"", "", -1, {}},
        {"  \t ", "", -1, {}},
        {"elsewhere", "", -1, {}},
        // Words with punctuation are searched as the words they hold, not read as syntax.
        {"alice@example.com", "", -1, {"comp.lang.c:1", "comp.lang.c:5"}},
        {"from:alice@example.com OR eve@example.com", "", -1,
         {k11, "comp.lang.c:1", "comp.lang.c:5"}},
        {"subject:alice@example.com", "", -1, {}},
        {"re:", "", -1, {"comp.lang.c:2"}},
        {"(re: AND patch*)", "", -1, {"comp.lang.c:2"}},
        {"c++ OR corn", "", -1, {k11}},
        {"3.5", "", -1, {}},
        {"nosuchfield:kernel", "", -1, {}},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(Found(server, test.query, test.group, test.limit), test.found)
            << test.query << " in '" << test.group << "' limit " << test.limit;
    }
}

TEST_F(SummarySearchTest, AHitCarriesTheDecodedFieldsAndTheDateInUtc) {
    const QList<TSearchHit> hits = store->Search(server, QStringLiteral("jurgen"));
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].group, "comp.lang.c");
    EXPECT_EQ(hits[0].number, 4);
    EXPECT_EQ(hits[0].subject, QStringLiteral("\u00dcber die K\u00fcche"));
    EXPECT_EQ(hits[0].from, QStringLiteral("J\u00fcrgen M\u00fcller <jm@example.de>"));
    EXPECT_EQ(hits[0].date, QDateTime(QDate(2026, 12, 9), QTime(5, 0), QTimeZone::utc()));
    EXPECT_FALSE(store->Search(server, QStringLiteral("release"))[0].date.isValid());
}

TEST_F(SummarySearchTest, EachServerFindsOnlyItsOwnSummaries) {
    EXPECT_EQ(Found(other, "kernel"), QByteArrayList{"comp.lang.c:1"});
    EXPECT_EQ(Found(other, "arm"), QByteArrayList{});
    EXPECT_EQ(Found(server, "elsewhere"), QByteArrayList{});
}

// A summary stored again under its number is found by its new words only, whether the old
// one was stored before or earlier in the same batch; the index keeps no entry of the old.
TEST_F(SummarySearchTest, AReplacedSummaryIsFoundByItsNewSubjectOnly) {
    store->AddSummaries(c, SummariesOf({{2, "Totally different", "Bob <bob@example.org>",
                                         "Tue, 8 Dec 2026 09:00:00 +0100"},
                                        {6, "First words", "Bob <bob@example.org>", "x"},
                                        {6, "Second words", "Bob <bob@example.org>", "x"}}));
    EXPECT_EQ(Found(server, "kernel"), (QByteArrayList{"de.rec.kochen:11", "comp.lang.c:1"}));
    EXPECT_EQ(Found(server, "different"), QByteArrayList{"comp.lang.c:2"});
    EXPECT_EQ(Found(server, "first"), QByteArrayList{});
    EXPECT_EQ(Found(server, "second"), QByteArrayList{"comp.lang.c:6"});
    EXPECT_EQ(IndexedRowIds("kernel"),
              (QList<qint64>{RowId(c, 1), RowId(otherC, 1), RowId(cooking, 11)}));
    EXPECT_EQ(IndexedRowIds("first"), QList<qint64>{});
}

TEST_F(SummarySearchTest, ExpiredSummariesLeaveTheIndex) {
    ASSERT_EQ(store->DropExpired(c, 3), 2);
    EXPECT_EQ(Found(server, "kernel"), QByteArrayList{"de.rec.kochen:11"});
    EXPECT_EQ(Found(server, "patch*"), QByteArrayList{"comp.lang.c:3"});
    EXPECT_EQ(IndexedRowIds("arm"), QList<qint64>{});
    EXPECT_EQ(IndexedRowIds("alice"), QList<qint64>{RowId(c, 5)});
}

TEST_F(SummarySearchTest, SearchTextFts5CannotReadFailsNamingIt) {
    struct Case {
        const char* query;
        const char* reason;
    };
    const Case cases[] = {
        {"AND", "\"AND\" cannot stand there)"},
        {"NOT kernel", "\"NOT\" cannot stand there"},
        {"kernel)", "\")\" cannot stand there"},
        // Quoting the words with punctuation mends nothing here: the text as typed is reported.
        {"3.5)", "\".\" cannot stand there"},
        {"kernel AND", "it ends where more is needed"},
        {"(kernel", "it ends where more is needed"},
        {"\"kernel", "a double quote is not closed"},
        {"*", "unknown special query"},
    };
    const qint64 empty = store->ServerId(QStringLiteral("empty.example"), 119);
    for (const Case& test : cases) {
        // Alike whether or not the server has summaries to search.
        for (const qint64 searched : {server, empty}) {
            try {
                store->Search(searched, QString::fromUtf8(test.query));
                ADD_FAILURE() << test.query << " was read";
            } catch (const EStoreSearchError& error) {
                const QString expected = QStringLiteral("Search text not understood: ") +
                                         QString::fromUtf8(test.query) + QStringLiteral(" (") +
                                         QString::fromUtf8(test.reason);
                EXPECT_TRUE(error.Message().startsWith(expected))
                    << error.what() << "\n  expected: " << expected.toStdString();
            }
        }
    }
    // The store stays usable after the failure.
    EXPECT_EQ(Found(server, "corn"), QByteArrayList{"de.rec.kochen:11"});
}

// A group that holds far more hits than the limit is passed over as a whole to reach the
// groups with lower row ids, its own newest hits kept; whole groups in between too.
TEST_F(SummarySearchTest, AGroupWithManyMoreHitsDoesNotHideTheGroupsBelowIt) {
    const qint64 between = store->GroupId(other, "between");
    const qint64 big = store->GroupId(server, "big");
    for (const qint64 group : {between, big}) {
        QList<TStoredSummary> many;
        for (qint64 number = 1; number <= 12000; ++number) {
            many.append({number, LineOf({number, "Kernel again", "Bulk <b@example>",
                                         "Mon, 1 Dec 2025 10:00:00 +0000"})});
        }
        store->AddSummaries(group, many);
    }
    EXPECT_EQ(Found(server, "kernel", {}, 4),
              (QByteArrayList{"de.rec.kochen:11", "comp.lang.c:2", "comp.lang.c:1", "big:12000"}));
    EXPECT_EQ(Found(server, "kernel AND again", {}, 2), (QByteArrayList{"big:12000", "big:11999"}));
    EXPECT_EQ(Found(server, "kern*", {}, 3),
              (QByteArrayList{"de.rec.kochen:11", "comp.lang.c:2", "comp.lang.c:1"}));
    EXPECT_EQ(Found(server, "kernel").size(), 12003);
}

// Numbers past 2^40 - 1 do not fit the index's row id: stored, never found, and no harm to
// the group's other entries.
TEST_F(SummarySearchTest, NumbersPastTheIndexedRangeAreStoredButNotFound) {
    const qint64 huge = qint64(1) << 40;
    store->AddSummaries(c, SummariesOf({{huge, "Kernel giant", "Zoe <z@example>", "x"}}));
    EXPECT_EQ(store->StoredHigh(c), huge);
    EXPECT_EQ(Found(server, "giant"), QByteArrayList{});
    EXPECT_EQ(Found(server, "kernel", "comp.lang.c"),
              (QByteArrayList{"comp.lang.c:2", "comp.lang.c:1"}));
    store->AddSummaries(c, SummariesOf({{huge, "Kernel giant again", "Zoe <z@example>", "x"}}));
    EXPECT_EQ(store->DropExpired(c, huge + 1), 6);
    EXPECT_EQ(Found(server, "kernel"), QByteArrayList{"de.rec.kochen:11"});
}

// A file written before the index came gets one at its first opening, filled from the
// summaries it holds, their encoded words decoded.
TEST_F(SummarySearchTest, TheIndexIsBuiltFromTheSummariesStoredBeforeIt) {
    store.reset();
    QFile::remove(path);
    const QList<const char*>& steps = TNewsStore::SchemaSteps();
    const auto index = std::find_if(steps.begin(), steps.end(), [](const char* step) {
        return QByteArrayView(step).contains("fts5");
    });
    ASSERT_NE(index, steps.end());
    {
        TSqlite db(path);
        MigrateSchema(db, steps.first(index - steps.begin()));
        db.Execute("INSERT INTO server (id, host, port) VALUES (3, 'old.example', 119);"
                   "INSERT INTO newsgroup (id, server, name) VALUES (5, 3, 'old.group');");
        TStatement insert(db, "INSERT INTO summary (newsgroup, number, line) VALUES (5, ?1, ?2)");
        for (const TStoredSummary& summary :
             SummariesOf({{7, "=?UTF-8?Q?K=C3=A4se?= aus Wien", "Old <o@example>",
                           "Mon, 7 Dec 2026 10:00:00 +0000"},
                          {9, "Kernel talk", "=?UTF-8?B?w4lsb2RpZQ==?= <e@example>",
                           "Tue, 8 Dec 2026 10:00:00 +0000"}})) {
            insert.Bind(1, summary.number).Bind(2, summary.line).Run();
        }
    }
    store = std::make_unique<TNewsStore>(path);
    const qint64 old = store->ServerId(QStringLiteral("old.example"), 119);
    EXPECT_EQ(Found(old, "kase"), QByteArrayList{"old.group:7"});
    EXPECT_EQ(Found(old, "elodie OR wien"), (QByteArrayList{"old.group:9", "old.group:7"}));
    // Entries made by the schema step go as those made since do.
    store->AddSummaries(5, SummariesOf({{9, "Other talk", "Old <o@example>", "x"}}));
    EXPECT_EQ(IndexedRowIds("elodie"), QList<qint64>{});
}
