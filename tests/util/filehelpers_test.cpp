#include "recordingpresenter.h"
#include "testfiles.h"
#include "util/filehelpers.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class FileHelpers : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TRecordingPresenter presenter;
};

} // namespace

TEST_F(FileHelpers, LoadOfAMissingOrEmptyFileIsEmptyAndSilent) {
    EXPECT_EQ(LoadTextFile(Path(u"missing"_s)), ""_ba);
    EXPECT_EQ(LoadTextFile(QString()), ""_ba);
    ASSERT_TRUE(SaveTextFile(Path(u"empty"_s), ""_ba));
    EXPECT_EQ(LoadTextFile(Path(u"empty"_s)), ""_ba);
    EXPECT_TRUE(presenter.infos.isEmpty());
}

TEST_F(FileHelpers, SaveAndLoadKeepEveryByteIncludingCrLfAndZeros) {
    QByteArray data("line\r\n\0\0\r\nend\r", 13);
    for (int code = 0; code < 256; ++code) {
        data += static_cast<char>(code);
    }
    ASSERT_TRUE(SaveTextFile(Path(u"exact"_s), data));
    EXPECT_EQ(FileBytes(Path(u"exact"_s)), data);
    const QByteArray loaded = LoadTextFile(Path(u"exact"_s));
    EXPECT_EQ(loaded.size(), data.size());
    EXPECT_EQ(loaded, data);
    EXPECT_EQ(FileSizeOf(Path(u"exact"_s)), data.size());
}

TEST_F(FileHelpers, SaveTruncatesAndPlusAppends) {
    ASSERT_TRUE(SaveTextFile(Path(u"f"_s), "first version"_ba));
    ASSERT_TRUE(SaveTextFile(Path(u"f"_s), "one"_ba));
    EXPECT_EQ(FileBytes(Path(u"f"_s)), "one"_ba);
    ASSERT_TRUE(SaveTextFile(u"+"_s + Path(u"f"_s), "\r\ntwo"_ba));
    EXPECT_EQ(FileBytes(Path(u"f"_s)), "one\r\ntwo"_ba);
    ASSERT_TRUE(SaveTextFile(u"+"_s + Path(u"new"_s), "made"_ba));
    EXPECT_EQ(FileBytes(Path(u"new"_s)), "made"_ba);
}

TEST_F(FileHelpers, EmptyAppendCreatesNothingButEmptySaveCreatesAnEmptyFile) {
    EXPECT_TRUE(SaveTextFile(u"+"_s + Path(u"absent"_s), ""_ba));
    EXPECT_FALSE(QFile::exists(Path(u"absent"_s)));
    EXPECT_TRUE(SaveTextFile(Path(u"present"_s), ""_ba));
    EXPECT_TRUE(QFile::exists(Path(u"present"_s)));
    EXPECT_EQ(FileSizeOf(Path(u"present"_s)), 0);
}

TEST_F(FileHelpers, AFileThatCannotBeOpenedIsReportedWithTheSystemReason) {
    // A directory has a size but cannot be opened as a file, whoever runs the test.
    QDir(dir.path()).mkdir(u"sub"_s);
    EXPECT_EQ(LoadTextFile(Path(u"sub"_s)), ""_ba);
    ASSERT_EQ(presenter.infos.size(), 1);
    EXPECT_TRUE(presenter.infos[0].startsWith(u"Could not Open "_s + Path(u"sub"_s) + u"\r\n"_s));
    EXPECT_TRUE(presenter.infos[0].contains(u"directory"_s, Qt::CaseInsensitive));

    EXPECT_FALSE(SaveTextFile(Path(u"no/such/dir/file"_s), "x"_ba));
    ASSERT_EQ(presenter.infos.size(), 2);
    EXPECT_EQ(presenter.infos[1], u"Could not Open "_s + Path(u"no/such/dir/file"_s) +
                                      u"\r\nNo such file or directory"_s);
}

TEST_F(FileHelpers, AWriteThatNeverReachesTheDiskIsNoSuccess) {
    // /dev/full takes the open and the buffered write, and fails the flush: a full disk.
    ASSERT_TRUE(QFile::exists(u"/dev/full"_s));
    EXPECT_FALSE(SaveTextFile(u"/dev/full"_s, "data"_ba));
}

TEST_F(FileHelpers, OpenFileRetryHonoursTheMode) {
    ASSERT_TRUE(SaveTextFile(Path(u"m"_s), "abc"_ba));
    auto reader = OpenFileRetry(Path(u"m"_s), TOpenMode::Read);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->isWritable());
    reader.reset();
    OpenFileRetry(Path(u"m"_s), TOpenMode::Append)->write("d");
    EXPECT_EQ(FileBytes(Path(u"m"_s)), "abcd"_ba);
    OpenFileRetry(Path(u"m"_s), TOpenMode::Write)->write("e");
    EXPECT_EQ(FileBytes(Path(u"m"_s)), "e"_ba);
    EXPECT_FALSE(OpenFileRetry(Path(u"missing"_s), TOpenMode::Read));
}

TEST(PlainFileName, KeepsTheLastPartOfAPathAndDropsWhatHidesOrTurnsText) {
    const QString fallback = u"fallback.dat"_s;
    const QString faces = QString(100, u'x') +
                          QString::fromUtf8(QByteArray(40, 'x')).replace(u"x"_s, u"\U0001F600"_s);
    const struct {
        QString name;
        QString plain;
    } cases[] = {
        {u"a.bin"_s, u"a.bin"_s},
        {u"C:\\Users\\x\\..\\a.bin"_s, u"a.bin"_s},
        {u"/etc/passwd"_s, u"passwd"_s},
        {u"dir/"_s, fallback},
        {u"  \u200B..\u200B  "_s, fallback},
        {u"holiday\u202Egpj.exe"_s, u"holidaygpj.exe"_s},
        {u"\u2066a\u2069\u061C\u200E\u200F\u202A\u202B\u202C\u202D.txt"_s, u"a.txt"_s},
        {u"a\u200Bb\u200Cc\u200Dd\u2060e\uFEFFf\u00ADg"_s, u"abcdefg"_s},
        {u"a\u0001b\u001Fc\u007Fd\u0085e\u009Ff\u2028g\u2029h"_s, u"abcdefgh"_s},
        {u"caf\u00e9 \u041f\U0001F600.txt"_s, u"caf\u00e9 \u041f\U0001F600.txt"_s},
        {QString(300, u'a') + u".tar.gz"_s, QString(197, u'a') + u".gz"_s},
        {QString(300, u'a') + u".a-very-long-extension"_s, QString(200, u'a')},
        // Four bytes each in UTF-8: no half of a surrogate pair is left over.
        {faces, faces.left(100 + 2 * 25)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(PlainFileName(c.name, fallback), c.plain);
        EXPECT_LE(PlainFileName(c.name, fallback).toUtf8().size(), kMaxPlainFileNameBytes);
    }
}

TEST(IdleWait, ProcessesEventsWhileWaitingAndReturnsAtOnceForNothing) {
    int fired = 0;
    QTimer::singleShot(10, [&] { ++fired; });
    IdleWait(0);
    IdleWait(-5);
    EXPECT_EQ(fired, 0);
    IdleWait(60);
    EXPECT_EQ(fired, 1);
}

TEST(ProgramDir, IsTheExecutablesWritableDirectoryWithASeparator) {
    QTemporaryDir dir;
    const QString expected = QDir(dir.path()).canonicalPath() + u'/';
    EXPECT_EQ(ProgramDirFor(QDir(dir.path()).canonicalPath() + u"/zknews"_s), expected);
    EXPECT_TRUE(ProgramDir().endsWith(u'/'));
    EXPECT_TRUE(QDir(ProgramDir()).exists());
}

TEST(ProgramDir, RedirectFileNamesTheDirectoryEvenWithoutSeparatorOrWithALineEnd) {
    QTemporaryDir exeDir;
    QTemporaryDir target;
    const QString executable = exeDir.filePath(u"zknews"_s);
    const QString targetPath = QDir(target.path()).canonicalPath();
    WriteFile(exeDir.filePath(u"redirect_exes.txt"_s), QFile::encodeName(targetPath) + "\n");
    EXPECT_EQ(ProgramDirFor(executable), targetPath + u'/');
}

TEST(ProgramDir, RelativeRedirectIsTakenAgainstTheCurrentDirectory) {
    QTemporaryDir exeDir;
    QDir(exeDir.path()).mkdir(u"data"_s);
    WriteFile(exeDir.filePath(u"redirect_exes.txt"_s), "data/");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(exeDir.path());
    const QString result = ProgramDirFor(exeDir.filePath(u"zknews"_s));
    QDir::setCurrent(previous);
    EXPECT_EQ(result, QDir(exeDir.path()).absoluteFilePath(u"data"_s) + u'/');
}

TEST(ProgramDir, AnInstalledProgramKeepsItsSettingsInTheUserConfigDirectory) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir prefix;
    ASSERT_TRUE(QDir(prefix.path()).mkdir(u"bin"_s));
    const QString result = ProgramDirFor(prefix.filePath(u"bin/zknews"_s));
    EXPECT_EQ(result, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + u'/');
}

TEST(ProgramDir, AnUnwritableDirectoryGivesWayToTheUserConfigDirectory) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir exeDir;
    WriteFile(exeDir.filePath(u"redirect_exes.txt"_s), "/nonexistent/zk/dir");
    const QString result = ProgramDirFor(exeDir.filePath(u"zknews"_s));
    EXPECT_EQ(result, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + u'/');
    EXPECT_TRUE(QDir(result).exists());
}
