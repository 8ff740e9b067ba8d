#include "fakedesktop.h"
#include "recordingpresenter.h"
#include "testfiles.h"
#include "util/launch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(IsUrl, KnowsTheLinkPrefixesInAnyCaseAndALeadingSlash) {
    for (const QString& text :
         {u"http://x"_s, u"HTTPS://x"_s, u"ftp://x"_s, u"Www.example.com"_s,
          u"news://server/group"_s, u"file:///tmp/a"_s, u"/home/me/a.txt"_s}) {
        EXPECT_TRUE(IsUrl(text)) << text.toStdString();
    }
    for (const QString& text : {u"news:group"_s, u"example.com"_s, u" www.x"_s, u"mailto:a@b"_s,
                                u""_s, u"C:\\docs\\a.txt"_s}) {
        EXPECT_FALSE(IsUrl(text)) << text.toStdString();
    }
}

TEST(LookupExtension, LinksAndAnchoredHtmlFilesLookUpHtm) {
    EXPECT_EQ(LookupExtension(u"www.example.com/setup.exe"_s), u".htm"_s);
    EXPECT_EQ(LookupExtension(u"C:\\docs\\page.html#part2"_s), u".htm"_s);
    EXPECT_EQ(LookupExtension(u"docs/page.shtml#top"_s), u".htm"_s);
    // Without an anchor the file's own extension counts.
    EXPECT_EQ(LookupExtension(u"docs/page.html"_s), u".html"_s);
    EXPECT_EQ(LookupExtension(u"#tag page.htm"_s), u".htm"_s);
}

TEST(LookupExtension, ExecutableTypesAreNeverLookedUp) {
    for (const QString& text : {u"setup.exe"_s, u"run.bat"_s, u"x.com"_s, u"lib.dll"_s,
                                u"SCRIPT.CMD"_s, u"C:\\tools\\Run.Bat"_s}) {
        EXPECT_EQ(LookupExtension(text), std::nullopt) << text.toStdString();
    }
}

TEST(LookupExtension, OtherwiseTheTextsOwnExtensionAfterTheLastSeparator) {
    EXPECT_EQ(LookupExtension(u"notes.TXT"_s), u".txt"_s);
    EXPECT_EQ(LookupExtension(u"archive.tar.gz"_s), u".gz"_s);
    EXPECT_EQ(LookupExtension(u"some.dir/README"_s), u""_s);
    EXPECT_EQ(LookupExtension(u"C:\\my.docs\\file"_s), u""_s);
    EXPECT_EQ(LookupExtension(u"plain words"_s), u""_s);
}

TEST(LaunchArgument, PassesBlanksThroughAndDropsEnclosingQuotes) {
    EXPECT_EQ(LaunchArgument(u"C:\\My Files\\a.txt"_s), u"C:\\My Files\\a.txt"_s);
    EXPECT_EQ(LaunchArgument(u"\"C:\\My Files\\a.txt\""_s), u"C:\\My Files\\a.txt"_s);
    EXPECT_EQ(LaunchArgument(u"\"unclosed"_s), u"unclosed"_s);
    EXPECT_EQ(LaunchArgument(u"a \"b\""_s), u"a \"b\""_s);
}

TEST(LaunchArgument, ALeadingDashBecomesAnAbsolutePathNeverAnOption) {
    const QString here = QDir::currentPath() + u'/';
    EXPECT_EQ(LaunchArgument(u"--help"_s), here + u"--help"_s);
    EXPECT_EQ(LaunchArgument(u"\"-x file.txt\""_s), here + u"-x file.txt"_s);
    EXPECT_EQ(LaunchArgument(u"a-b"_s), u"a-b"_s);
}

TEST(RandomLetters, GivesThatManyCapitalLetters) {
    EXPECT_EQ(RandomLetters(0), u""_s);
    EXPECT_EQ(RandomLetters(-3), u""_s);
    const QString letters = RandomLetters(200);
    ASSERT_EQ(letters.size(), 200);
    for (const QChar c : letters) {
        EXPECT_TRUE(c >= u'A' && c <= u'Z');
    }
    EXPECT_NE(letters, RandomLetters(200));
}

TEST(FileDetails, DescribesSizeWithSeparatorsDateAndAttributes) {
    QTemporaryDir dir;
    const QString name = dir.filePath(u"f.bin"_s);
    WriteFile(name, QByteArray(1234567, 'x'));
    const QString details = FileDetails(name);
    EXPECT_TRUE(details.startsWith(name + u" -  Size=1"_s)) << details.toStdString();
    EXPECT_TRUE(details.contains(u"234"_s));
    EXPECT_TRUE(details.contains(u"  Date="_s));
    EXPECT_TRUE(details.endsWith(u"  Attributes=---A-"_s)) << details.toStdString();
    EXPECT_FALSE(details.contains(u'\n'));
    EXPECT_TRUE(FileDetails(dir.path()).endsWith(u"----D"_s));
    EXPECT_EQ(FileDetails(dir.filePath(u"gone"_s)),
              dir.filePath(u"gone"_s) + u" - File or Directory does not Exist"_s);
}

TEST(DeleteFileRetry, RemovesReadOnlyFilesAndCallsAMissingFileGone) {
    QTemporaryDir dir;
    const QString name = dir.filePath(u".hidden"_s);
    WriteFile(name, QByteArray());
    QFile::setPermissions(name, QFileDevice::ReadOwner);
    EXPECT_TRUE(FileDetails(name).endsWith(u"RH-A-"_s));
    EXPECT_TRUE(DeleteFileRetry(name));
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_TRUE(DeleteFileRetry(name));
}

TEST(RunProgram, PassesEachArgumentWholeWithoutAShell) {
    QTemporaryDir dir;
    const QString target = dir.filePath(u"a file; echo broken > x"_s);
    const qint64 id = RunProgram(u"touch"_s, {target}, true);
    EXPECT_GT(id, 0);
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_FALSE(QFile::exists(u"x"_s));
}

TEST(RunProgram, AProgramThatCannotStartIsReported) {
    TRecordingPresenter presenter;
    EXPECT_EQ(RunProgram(u"/nonexistent/zkprog"_s, {u"arg"_s}, false), -1);
    EXPECT_EQ(RunProgram(u"/nonexistent/zkprog"_s, {u"arg"_s}, true), -1);
    ASSERT_EQ(presenter.infos.size(), 2);
    EXPECT_TRUE(presenter.infos[0].startsWith(u"Could not launch /nonexistent/zkprog arg\r\n"_s));
}

TEST(FindAssociatedProgram, AnswersTheDefaultApplicationsCommandWithoutFieldCodes) {
    TFakeDesktop desktop;
    const QString browser = desktop.AddProgram(u"my browser"_s, "exit 0\n");
    desktop.SetDefaults("text/html=zk-browser.desktop;\n");
    desktop.AddEntry(u"zk-browser.desktop"_s,
                     "Name=Browser\nExec=\"" + browser.toUtf8() + "\" --new-tab %U\n");
    EXPECT_EQ(FindAssociatedProgram(u".htm"_s), QStringList({browser, u"--new-tab"_s}));
    EXPECT_EQ(FindAssociatedProgram(u".txt"_s), QStringList());
    EXPECT_EQ(FindAssociatedProgram(u""_s), QStringList());
    EXPECT_EQ(FindAssociatedProgram(u".zkunknown"_s), QStringList());
}

TEST(FindAssociatedProgram, SkipsEntriesThatAreHiddenMissingOrNameNoProgram) {
    TFakeDesktop desktop;
    const QString viewer = desktop.AddProgram(u"viewer"_s, "exit 0\n");
    desktop.SetDefaults("text/plain=hidden.desktop;absent.desktop;noprog.desktop;viewer.desktop\n");
    desktop.AddEntry(u"hidden.desktop"_s, "Exec=" + viewer.toUtf8() + " %f\nHidden=true\n");
    desktop.AddEntry(u"noprog.desktop"_s, "Exec=/nonexistent/zkviewer %f\n");
    desktop.AddEntry(u"viewer.desktop"_s, "Exec=" + viewer.toUtf8() + " --title=100%% %f\n");
    EXPECT_EQ(FindAssociatedProgram(u".txt"_s), QStringList({viewer, u"--title=100%"_s}));
}
