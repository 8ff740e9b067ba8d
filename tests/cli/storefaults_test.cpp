// zknews-cli on a store that cannot grow, as on a full disk (as root too: the process's file
// size limit stops the write, whatever the permissions): the message names the file, what was
// committed before stays, and the commands that read from the server still print what it sent.
#include "clirun.h"
#include "filesizelimit.h"
#include "script.h"
#include "scriptedclient.h"
#include "testfiles.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kGroup = "misc.test";

QStringList Words(const QByteArray& text) {
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

struct CliFullDiskTest : ::testing::Test {
    ScriptedServer fake{std::initializer_list<QByteArray>{}};
    FakeServer& server = fake.server;
    TestDir files;

    QString StorePath() const { return files.Path("news.db"); }

    CliResult Run(const QByteArray& command) {
        return RunCliWith(
            Words("--timeout 10000 --port " + QByteArray::number(server.Port()) + " --store ") +
            QStringList{StorePath()} + Words(command));
    }

    // Runs the command with room in its log for one of the store's 32 KB pages, not for what a
    // listing or an article adds.
    CliResult RunOnAFullDisk(const QByteArray& command) {
        const TFileSizeLimit limit(64 * 1024);
        return Run(command);
    }

    void ExpectMessageNamesTheStore(const CliResult& result) {
        EXPECT_TRUE(result.err.contains(StorePath().toLocal8Bit())) << result.err.constData();
        EXPECT_TRUE(result.err.contains("full")) << result.err.constData();
    }
};

QByteArray Listing(int low, int high, int from) {
    return script::Greeting() + script::Group(kGroup, low, high) +
           script::Overview(from, high, script::Summaries(from, high)) + script::Quit();
}

} // namespace

// A sync that cannot store fails naming the file; the summaries of the sync before stay, and
// once there is room the next sync goes on from them.
TEST_F(CliFullDiskTest, SyncFailsNamingTheStoreAndKeepsTheEarlierSync) {
    server.AddScript(Listing(1, 5, 1));
    const CliResult first = Run("sync misc.test");
    ASSERT_EQ(first.status, kExitSuccess) << first.err.constData();
    server.AddScript(script::Greeting() + script::Group(kGroup, 1, 3000) +
                     script::Overview(6, 3000, script::Summaries(6, 3000)));
    const CliResult full = RunOnAFullDisk("sync misc.test");
    EXPECT_EQ(full.status, kExitFailure);
    ExpectMessageNamesTheStore(full);
    EXPECT_EQ(Run("--offline summary misc.test --all").out.count('\n'), 5);

    server.AddScript(Listing(1, 3000, 6));
    const CliResult roomAgain = Run("sync misc.test");
    EXPECT_EQ(roomAgain.status, kExitSuccess) << roomAgain.err.constData();
    EXPECT_EQ(roomAgain.out, "misc.test\t2995\t3000\n");
    fake.ExpectScriptPlayed();
}

// Listing and reading from the server go on when the store cannot keep what they fetch: the
// output is the server's, the store's trouble one line on standard error.
TEST_F(CliFullDiskTest, ListingAndArticleArePrintedFromTheServerAll) {
    server.AddScript(Listing(1, 2, 1));
    const CliResult first = Run("sync misc.test");
    ASSERT_EQ(first.status, kExitSuccess) << first.err.constData();
    server.AddScript(Listing(1, 2000, 1));
    const QByteArray body = QByteArray("a long body line\n").repeated(20000);
    server.AddScript(script::Greeting() + script::Group(kGroup, 1, 2000) +
                     script::Article(3, "Subject: big\nMessage-ID: <3@x>", body) + script::Quit());
    server.AddScript(Listing(1, 2000, 1));

    const CliResult listing = RunOnAFullDisk("summary misc.test --all");
    EXPECT_EQ(listing.status, kExitSuccess);
    EXPECT_EQ(listing.out.count('\n'), 2000);
    ExpectMessageNamesTheStore(listing);
    const CliResult article = RunOnAFullDisk("article misc.test 3");
    EXPECT_EQ(article.status, kExitSuccess);
    EXPECT_EQ(article.out.count("a long body line"), 20000) << article.out.left(300).constData();
    ExpectMessageNamesTheStore(article);
    // With room again the store takes the listing, the earlier summaries still there.
    EXPECT_EQ(Run("summary misc.test --all").status, kExitSuccess);
    EXPECT_EQ(Run("--offline summary misc.test --all").out.count('\n'), 2000);
    fake.ExpectScriptPlayed();
}
