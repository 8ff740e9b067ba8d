// The commands that need no server: find over standard input, the codecs over files.
#include "clirun.h"
#include "testfiles.h"
#include "testhelpers.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QByteArray kLines = "a needle in a haystack\r\n"
                          "NEEDLE IN CAPITALS\n"
                          "needles, plural\n"
                          "no match here\n"
                          "the last needle has no line end";

QByteArray Find(std::initializer_list<const char*> words) {
    QStringList arguments{QStringLiteral("find")};
    for (const char* word : words) {
        arguments << QString::fromLatin1(word);
    }
    const CliResult result = RunCliWith(arguments, kLines);
    EXPECT_EQ(result.status, kExitSuccess) << result.err.constData();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.constData();
    return result.out;
}

// The files of one test, and zknews-cli converting one of them into another.
struct Files : TestDir {
    CliResult Convert(const char* direction, const char* codec, const char* in,
                      const char* out) const {
        return RunCliWith(
            {QString::fromLatin1(direction), QString::fromLatin1(codec), Path(in), Path(out)});
    }
};

} // namespace

TEST(CliFind, WildcardsMatchWithinLinesIgnoringCaseUnlessAsked) {
    EXPECT_EQ(Find({"n??dle"}), "a needle in a haystack\r\nNEEDLE IN CAPITALS\n"
                                "needles, plural\nthe last needle has no line end\n");
    EXPECT_EQ(Find({"needle*plural", "--case"}), "needles, plural\n");
    EXPECT_EQ(Find({"NEEDLE", "--case"}), "NEEDLE IN CAPITALS\n");
    EXPECT_EQ(Find({"needle", "--whole-word"}), "a needle in a haystack\r\nNEEDLE IN CAPITALS\n"
                                                "the last needle has no line end\n");
    EXPECT_EQ(Find({"(a+b)"}), "");
}

TEST(CliFind, ZkreTextsAreRegularExpressions) {
    EXPECT_EQ(Find({"zkre:^needle|end$"}), "NEEDLE IN CAPITALS\nneedles, plural\n"
                                           "the last needle has no line end\n");
    EXPECT_EQ(Find({"ZKRE:(?-i)^NEE"}), "NEEDLE IN CAPITALS\n");
    // Whole word leaves an expression as it is written.
    EXPECT_EQ(Find({"zkre:needles?,", "--whole-word"}), "needles, plural\n");
}

TEST(CliFind, AnExpressionThatDoesNotCompileFailsOnceWithOneLine) {
    const CliResult result = RunCliWith({QStringLiteral("find"), QStringLiteral("zkre:(")}, kLines);
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_TRUE(result.err.startsWith("zknews-cli: Regular Expression Error :-"))
        << result.err.constData();
    EXPECT_TRUE(result.err.contains("HERE-->"));
    EXPECT_EQ(result.err.count('\n'), 1) << result.err.constData();
    EXPECT_TRUE(result.out.isEmpty());
}

TEST(CliCodecs, EncodeAndDecodeFilesWithEachMethod) {
    Files files;
    files.Write("abc", "abc");
    ASSERT_EQ(files.Convert("encode", "uu", "abc", "abc.uu").status, kExitSuccess);
    EXPECT_EQ(files.Read("abc.uu"), "#86)C\r\n");
    ASSERT_EQ(files.Convert("encode", "base64", "abc", "abc.b64").status, kExitSuccess);
    EXPECT_EQ(files.Read("abc.b64"), "YWJj");
    files.Write("qp", "a=b caf\xe9 \r\n");
    ASSERT_EQ(files.Convert("encode", "qp", "qp", "qp.enc").status, kExitSuccess);
    EXPECT_EQ(files.Read("qp.enc"), "a=3Db caf=E9=20\r\n");

    for (const qsizetype size : {0, 1, 45, 46, 1000, 70000}) {
        const QByteArray bytes = RandomBytes(size, static_cast<quint32>(size));
        files.Write("in", bytes);
        for (const char* codec : {"uu", "base64", "qp"}) {
            ASSERT_EQ(files.Convert("encode", codec, "in", "encoded").status, kExitSuccess);
            const CliResult decoded = files.Convert("decode", codec, "encoded", "out");
            ASSERT_EQ(decoded.status, kExitSuccess) << decoded.err.constData();
            EXPECT_EQ(files.Read("out"), bytes) << codec << " " << size;
        }
    }
}

TEST(CliCodecs, AFailedDecodingLeavesNoOutputFile) {
    Files files;
    files.Write("bad.b64", "YWJj\r\n*bad\r\n");
    const CliResult bad = files.Convert("decode", "base64", "bad.b64", "out");
    EXPECT_EQ(bad.status, kExitFailure);
    EXPECT_EQ(bad.err, "zknews-cli: Invalid data encountered within stream\n");
    EXPECT_FALSE(QFileInfo::exists(files.Path("out")));

    files.Write("cut.qp", "ab=4");
    EXPECT_EQ(files.Convert("decode", "qp", "cut.qp", "out").err,
              "zknews-cli: Stream read error\n");
    EXPECT_FALSE(QFileInfo::exists(files.Path("out")));

    const CliResult missing = files.Convert("encode", "uu", "missing", "out");
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_TRUE(missing.err.startsWith("zknews-cli: Cannot open file ")) << missing.err.constData();
}

TEST(CliCodecs, OutputMayReplaceItsOwnInput) {
    Files files;
    files.Write("data", "YWJj");
    ASSERT_EQ(files.Convert("decode", "base64", "data", "data").status, kExitSuccess);
    EXPECT_EQ(files.Read("data"), "abc");
}
