#include "fakedesktop.h"
#include "util/launchtext.h"
#include "wait.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A default browser that writes its argument count and each argument on a line of its own. The
// record appears whole, renamed into place, so that a reader never sees only its first lines.
QString InstallRecordingBrowser(TFakeDesktop& desktop, const QString& record) {
    const QByteArray path = QFile::encodeName(record);
    const QString browser = desktop.AddProgram(
        u"browser"_s, "{ echo $#; for a in \"$@\"; do echo \"$a\"; done; } > '" + path +
                          ".part' && mv '" + path + ".part' '" + path + "'\n");
    desktop.SetDefaults("text/html=zk-browser.desktop\n");
    desktop.AddEntry(u"zk-browser.desktop"_s, "Exec=" + browser.toUtf8() + " --new-window %u\n");
    return browser;
}

QByteArray Recorded(const QString& record) {
    QFile file(record);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the recording browser was given when text was launched, once it has written it whole.
QByteArray LaunchedWith(const QString& text) {
    TFakeDesktop desktop;
    const QString record = desktop.root.filePath(u"record"_s);
    InstallRecordingBrowser(desktop, record);
    LaunchText(text);
    EXPECT_TRUE(WaitUntil([&] { return Recorded(record).endsWith('\n'); }));
    return Recorded(record);
}

} // namespace

TEST(LaunchText, ALinkGoesToTheDefaultBrowserAsOneArgumentUntouchedByAShell) {
    EXPECT_EQ(LaunchedWith(u"www.example.com/a b;echo $HOME `id` \"q\""_s),
              "2\n--new-window\nwww.example.com/a b;echo $HOME `id` \"q\"\n"_ba);
}

TEST(LaunchText, AnAnchoredHtmlFileInQuotesIsLookedUpAsHtmAndUnquoted) {
    EXPECT_EQ(LaunchedWith(u"\"My Files/page.html#part2\""_s),
              "2\n--new-window\nMy Files/page.html#part2\n"_ba);
}

TEST(LaunchText, ALineBeginningWithADashReachesTheBrowserAsAFileNotAnOption) {
    EXPECT_EQ(LaunchedWith(u"--kiosk.html"_s),
              "2\n--new-window\n" + QFile::encodeName(QDir::currentPath()) + "/--kiosk.html\n");
}

TEST(LaunchText, BlankTextDoesNothing) {
    TFakeDesktop desktop;
    const QString record = desktop.root.filePath(u"record"_s);
    InstallRecordingBrowser(desktop, record);
    LaunchText(u"   \t "_s);
    LaunchText(QString());
    EXPECT_FALSE(WaitUntil([&] { return QFile::exists(record); }, 300));
}
