// Reading a yEnc post from the local news server and saving its file through the window.
#include "session.h"

#include "codec/yencdecode.h"
#include "modal.h"

#include <QDir>
#include <QFileDialog>

using namespace NewsServer;
using namespace Qt::Literals::StringLiterals;

TEST_F(Session, AYEncPostShowsItsFileInThePaneAndSavesItWhole) {
    StartUp();
    ConnectTo(kPort);
    form.OpenMessageId("<yenc.1@zk.test>");
    EXPECT_EQ(PaneText(form.Memo1), u"zk-yenc-single.bin \u2014 3.0 kB, yEnc"_s);
    EXPECT_TRUE(PaneText(form.Memo2).endsWith(u"[yEnc: zk-yenc-single.bin, 3.0 kB]"_s))
        << PaneText(form.Memo2).toStdString();

    QTemporaryDir folder;
    AnswerFileDialog(folder.path());
    form.Button22->click();
    const QString saved = folder.filePath(u"zk-yenc-single.bin"_s);
    EXPECT_EQ(form.StatusText(), u"Saved "_s + saved);
    const QByteArray bytes = FileBytes(saved);
    EXPECT_EQ(bytes.size(), 3000);
    // As the post's "=yend" line declares it.
    EXPECT_EQ(YEncCrc32(bytes), 0x4c128177U);
}

TEST_F(Session, SavingOnePartOfATwoPartYEncPostJoinsTheFileFromBothArticles) {
    StartUp();
    ConnectTo(kPort);
    SelectGroup("zk.test.yenc");
    form.ListBox1DblClick();
    form.OpenMessageId("<yenc.2@zk.test>");
    EXPECT_EQ(PaneText(form.Memo1), u"zk-yenc-two-parts.bin \u2014 5.0 kB, yEnc, part 1 of 2"_s);

    QTemporaryDir folder;
    AnswerFileDialog(folder.path());
    form.Button22->click();
    const QString saved = folder.filePath(u"zk-yenc-two-parts.bin"_s);
    EXPECT_EQ(form.StatusText(), u"Saved "_s + saved);
    const QByteArray bytes = FileBytes(saved);
    EXPECT_EQ(bytes.size(), 5000);
    // As both parts' "=yend" lines declare it for the whole file.
    EXPECT_EQ(YEncCrc32(bytes), 0xa95fc1ceU);
}
