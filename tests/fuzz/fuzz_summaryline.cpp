// The parsers of the news server's one-line replies: XOVER summary lines, LIST lines, the
// GROUP and DATE replies; and of a NEWGROUPS reply's lines, the input split at its line ends.
#include "fuzzsupport.h"
#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"
#include "util/exception.h"

#include <cstring>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

namespace {

void CheckSummaryFields(const QByteArray& line) {
    const QList<QByteArray> fields = nntpwire::SplitSummaryLine(line);
    fuzz::Require(!fields.isEmpty() && fields.size() <= 9, "one to nine summary fields");
    for (qsizetype i = 0; i < fields.size(); ++i) {
        fuzz::Require(fields[i].startsWith(nntpwire::kSummaryPrefixes[i]),
                      "every summary field starts with its prefix");
        const qsizetype prefixSize =
            static_cast<qsizetype>(std::strlen(nntpwire::kSummaryPrefixes[i]));
        fuzz::Require(!fields[i].mid(prefixSize).contains('\t'), "a summary field holds no tab");
    }
    // The fields the window takes where the line holds them are those of the header lines.
    const QByteArray withoutCr = nntpwire::SummaryCrAsNul(line);
    const TSummaryLine summary{withoutCr, nntpwire::LocateSummaryFields(line)};
    for (int i = 0; i < 9; ++i) {
        const QByteArray field = i < fields.size()
                                     ? fields[i].mid(std::strlen(nntpwire::kSummaryPrefixes[i]))
                                     : QByteArray();
        fuzz::Require(summary.Field(i) == field, "a located field is its header line's value");
    }
}

void ParseGroupLineOrRefuse(const QByteArray& line) {
    try {
        const nntpwire::GroupLine group = nntpwire::ParseGroupLine(line);
        fuzz::Require(!group.name.contains(' '), "a group name holds no blank");
    } catch (const Exception&) {
        // A number that is not a number: the conversion error.
    }
}

// Every line a group, or the whole list refused naming the line.
void ParseGroupListOrRefuse(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    try {
        const QList<nntpwire::GroupLine> groups = nntpwire::ParseGroupList(lines, "NEWGROUPS");
        fuzz::Require(groups.size() == lines.size(), "one group per line");
        for (const nntpwire::GroupLine& group : groups) {
            fuzz::Require(!group.name.isEmpty() && !group.name.contains(' '),
                          "a group name is one word");
            fuzz::Require(group.first >= 0 && group.last >= 0, "article numbers are not negative");
        }
    } catch (const Exception& error) {
        fuzz::Require(error.Message().startsWith(QStringLiteral("Malformed NEWGROUPS reply, line ")),
                      "a refused list names the line");
    }
}

void ParseDateOrRefuse(const QByteArray& line) {
    try {
        const QDateTime time = nntpwire::ParseDateReply(line);
        fuzz::Require(time.isValid() && time.offsetFromUtc() == 0, "a server time is UTC");
        fuzz::Require(nntpwire::NewGroupsCommand(time).size() == 29,
                      "NEWGROUPS asks with a whole date and time");
    } catch (const Exception&) {
        // No time of 14 digits that is a date and a time of day.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line = fuzz::Bytes(data, size);
    CheckSummaryFields(line);
    ParseGroupLineOrRefuse(line);
    nntpwire::ParseGroupReply(line);
    ParseDateOrRefuse(line);
    ParseGroupListOrRefuse(line);
    const QByteArray bare = nntpwire::StripLineEnd(line);
    fuzz::Require(!bare.endsWith("\r\n") || line.endsWith("\r\n\r\n") ||
                      line.endsWith("\r\n\n"),
                  "one line end is stripped");
    return 0;
}
