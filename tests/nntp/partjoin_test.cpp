// Files saved piece by piece: the working file that gets its name only when whole, the parts
// of a yEnc file written at their places, the slices of a uuencoded one.
#include "nntp/partjoin.h"

#include "filesizelimit.h"
#include "testfiles.h"
#include "testhelpers.h"
#include "yencencode.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The lines of one yEnc part of file (four parts of a quarter each), as an article's body.
TStringList YEncPartLines(const QByteArray& file, int part, int total = 4) {
    const qint64 quarter = file.size() / total;
    return ListOfLines(YEncBlock(file, "f.bin", 128,
                                 YEncPart{part, total, quarter * (part - 1) + 1, quarter * part}));
}

} // namespace

TEST(WorkingFile, IsHiddenUntilKeptAndThenTakesAFreeNameWithoutReplacingAnything) {
    QTemporaryDir folder;
    const QString dir = folder.path() + u'/';
    WriteFile(dir + u"a.txt"_s, "taken");
    ASSERT_TRUE(QFile::link(dir + u"nowhere"_s, dir + u"a_1.txt"_s));
    {
        TWorkingFile output(dir, u"a.txt"_s);
        output.WriteAt(3, "def");
        output.WriteAt(0, "abc");
        EXPECT_EQ(FilesIn(folder.path()),
                  (QStringList{u".a.txt.partial"_s, u"a.txt"_s, u"a_1.txt"_s}));
        EXPECT_EQ(output.BytesWritten(), 6);
        EXPECT_EQ(output.Crc32(), BitwiseCrc32("abcdef"));
        EXPECT_EQ(output.Keep(u"a.txt"_s), dir + u"a_2.txt"_s);
    }
    EXPECT_EQ(FileBytes(dir + u"a.txt"_s), "taken");
    EXPECT_EQ(FileBytes(dir + u"a_2.txt"_s), "abcdef");
    EXPECT_TRUE(QFileInfo(dir + u"a_1.txt"_s).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(dir + u"nowhere"_s));
    {
        TWorkingFile dropped(dir, u"b.txt"_s);
        dropped.Append("half");
    }
    EXPECT_EQ(FilesIn(folder.path()), (QStringList{u"a.txt"_s, u"a_1.txt"_s, u"a_2.txt"_s}));
}

// A disk that fills up: the write that does not fit says so, naming the file, and the working
// file goes with the save.
TEST(WorkingFile, AWriteThatDoesNotFitRaisesAnErrorAndLeavesNothing) {
    QTemporaryDir folder;
    const QString dir = folder.path() + u'/';
    QString message;
    {
        TWorkingFile output(dir, u"big.bin"_s);
        output.Append(QByteArray(4096, 'x'));
        const TFileSizeLimit full(8192);
        try {
            output.Append(QByteArray(8192, 'y'));
        } catch (const Exception& error) {
            message = error.Message();
        }
    }
    EXPECT_TRUE(message.startsWith(u"Cannot write file "_s + dir + u".big.bin.partial: "_s))
        << message.toStdString();
    EXPECT_EQ(FilesIn(folder.path()), QStringList());
}

TEST(YEncPartJoiner, PartsInAnyOrderMakeTheFileAndAPartThatFailsItsChecksIsNamed) {
    const QByteArray file = RandomBytes(4 * 3000, 9);
    const struct {
        const char* what;
        QList<int> order;
        int damaged; // the part whose data is spoilt, 0 none
        bool whole;
        const char* fault;
        const char* missing;
    } cases[] = {
        {"all four, out of order", {3, 1, 4, 2}, 0, true, "", "parts are missing"},
        {"one missing", {4, 1, 2}, 0, false, "", "part 3 of 4 is missing"},
        {"one damaged",
         {1, 2},
         2,
         false,
         "CRC32 mismatch in the yEnc part 2 of f.bin",
         "parts 2, 3, 4 of 4 are missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir folder;
        const TStringList first = YEncPartLines(file, c.order.first());
        const TFoundAttachment part = FindAttachments(TStringList(), first).first();
        TYEncPartJoiner joiner(folder.path() + u'/', part);
        QString fault;
        for (const int n : c.order) {
            TStringList lines = YEncPartLines(file, n);
            if (n == c.damaged) {
                QByteArray line = lines[3];
                line[5] = static_cast<char>(line[5] == 'a' ? 'b' : 'a');
                TStringList spoilt;
                for (int i = 0; i < lines.Count(); ++i) {
                    spoilt.Add(i == 3 ? line : lines[i]);
                }
                lines.Assign(spoilt);
            }
            fault = joiner.AddParts(TStringList(), lines);
            if (!fault.isEmpty()) {
                break;
            }
        }
        EXPECT_EQ(fault, QString::fromLatin1(c.fault));
        EXPECT_EQ(joiner.Whole(), c.whole);
        EXPECT_EQ(joiner.Missing(), QString::fromLatin1(c.missing));
        if (c.whole) {
            QString problem;
            EXPECT_EQ(joiner.Keep(problem), folder.filePath(u"f.bin"_s));
            EXPECT_TRUE(problem.isEmpty());
            EXPECT_TRUE(FileBytes(folder.filePath(u"f.bin"_s)) == file);
        }
    }
}

// A whole file larger than the pieces it is written out in comes out whole; one whose CRC32
// does not hold is kept as decoded, and the problem says so.
TEST(YEncFile, IsDecodedIntoItsFileAndAMismatchIsTold) {
    const QByteArray file = RandomBytes(3 * 1024 * 1024 + 17, 2);
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged);
        QTemporaryDir folder;
        QByteArray block = YEncBlock(file, "f.bin");
        if (damaged) {
            const qsizetype crc = block.indexOf(" crc32=") + 7;
            block.replace(crc, 8, "00000000");
        }
        const TStringList lines = ListOfLines(block);
        QString problem;
        const QString path = SaveYEncFile(folder.path() + u'/', lines,
                                          FindAttachments(TStringList(), lines).first(), problem);
        EXPECT_EQ(path, folder.filePath(u"f.bin"_s));
        EXPECT_TRUE(FileBytes(path) == file);
        EXPECT_EQ(problem, damaged ? u"CRC32 mismatch in f.bin"_s : QString());
        EXPECT_EQ(FilesIn(folder.path()), QStringList{u"f.bin"_s});
    }
}
