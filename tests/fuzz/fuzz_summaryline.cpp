// The parsers of the news server's one-line replies: XOVER summary lines, LIST lines and the
// GROUP reply.
#include "fuzzsupport.h"
#include "nntp/nntpwire.h"
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
}

void ParseGroupLineOrRefuse(const QByteArray& line) {
    try {
        const nntpwire::GroupLine group = nntpwire::ParseGroupLine(line);
        fuzz::Require(!group.name.contains(' '), "a group name holds no blank");
    } catch (const Exception&) {
        // A number that is not a number: the conversion error.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line = fuzz::Bytes(data, size);
    CheckSummaryFields(line);
    ParseGroupLineOrRefuse(line);
    nntpwire::ParseGroupReply(line);
    const QByteArray bare = nntpwire::StripLineEnd(line);
    fuzz::Require(!bare.endsWith("\r\n") || line.endsWith("\r\n\r\n") ||
                      line.endsWith("\r\n\n"),
                  "one line end is stripped");
    return 0;
}
