#include "util/compressionmemory.h"

#include "testfiles.h"
#include "testhelpers.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(CompressionMemory, AServerRememberedIsFoundByHostAndPortOnce) {
    TestCompressionMemory memory;
    EXPECT_EQ(compressionmemory::FilePath(), memory.Path());
    EXPECT_FALSE(compressionmemory::FailedBefore(QStringLiteral("news.example"), 119));
    compressionmemory::Remember(QStringLiteral("news.example"), 119);
    compressionmemory::Remember(QStringLiteral("News.Example"), 119);
    struct Case {
        const char* host;
        int port;
        bool failed;
    };
    const Case cases[] = {{"news.example", 119, true},
                          {"NEWS.EXAMPLE", 119, true},
                          {"news.example", 563, false},
                          {"other.example", 119, false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.host + std::to_string(test.port));
        EXPECT_EQ(compressionmemory::FailedBefore(QString::fromLatin1(test.host), test.port),
                  test.failed);
    }
    EXPECT_EQ(FileBytes(memory.Path()), "news.example 119\n");
}

TEST(CompressionMemory, LinesThatAreNoServerArePassedOver) {
    TestCompressionMemory memory;
    WriteFile(memory.Path(), "# a note\n\nnews.example\nnews.example port\r\n"
                             "  spaced.example   563  \r\nlast.example 119");
    EXPECT_FALSE(compressionmemory::FailedBefore(QStringLiteral("news.example"), 0));
    EXPECT_TRUE(compressionmemory::FailedBefore(QStringLiteral("spaced.example"), 563));
    EXPECT_TRUE(compressionmemory::FailedBefore(QStringLiteral("last.example"), 119));
    compressionmemory::Remember(QStringLiteral("new.example"), 119);
    EXPECT_TRUE(compressionmemory::FailedBefore(QStringLiteral("last.example"), 119));
    EXPECT_TRUE(compressionmemory::FailedBefore(QStringLiteral("new.example"), 119));
}

TEST(CompressionMemory, TheFileLivesInTheUserDataFolderAndAFailureToWriteIsNamed) {
    TestDir home;
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedFile = qgetenv(TestCompressionMemory::kVariable);
    qputenv("XDG_DATA_HOME", home.Path("data").toUtf8());
    qunsetenv(TestCompressionMemory::kVariable);
    EXPECT_EQ(compressionmemory::FilePath(), home.Path("data/zknews/no-compression.txt"));
    compressionmemory::Remember(QStringLiteral("news.example"), 119);
    EXPECT_EQ(FileBytes(home.Path("data/zknews/no-compression.txt")), "news.example 119\n");

    // A file stands where the folder should be.
    qputenv(TestCompressionMemory::kVariable, home.Path("data/zknews/no-compression.txt/x").toUtf8());
    EXPECT_TRUE(MessageOf<Exception>([] {
                    compressionmemory::Remember(QStringLiteral("news.example"), 119);
                }).startsWith(QStringLiteral("Cannot keep the server that compression failed "
                                             "with in ") +
                              home.Path("data/zknews/no-compression.txt/x")));
    qputenv("XDG_DATA_HOME", savedDataHome);
    qputenv(TestCompressionMemory::kVariable, savedFile);
}
