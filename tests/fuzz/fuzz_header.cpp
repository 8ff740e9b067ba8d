// The header model: an article's header lines, the values looked up in them by name, and the
// fields as the reader shows them, encoded words decoded.
#include "codec/headerdate.h"
#include "fuzzsupport.h"
#include "nntp/decodedarticle.h"
#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"
#include "util/exception.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

namespace {

// The numeric fields raise the conversion error for text that is not a number.
void ReadNumbers(const TPostRecordType& record) {
    record.GetArticleId();
    try {
        record.GetPrByteCount();
    } catch (const Exception&) {
    }
    try {
        record.GetPrLineCount();
    } catch (const Exception&) {
    }
}

void ReadCommonFields(const TPostRecordType& record) {
    record.GetPrFromAddress();
    record.GetPrReplyTo();
    record.GetPrSubject();
    record.GetPrDistribution();
    record.GetPrAppName();
    const QDateTime date = ParseHeaderDate(record.GetPrTimeDate());
    fuzz::Require(!date.isValid() || date.offsetFromUtc() == 0, "a Date reads in UTC");
    record.GetNewsGroups();
    ReadNumbers(record);
}

// Every named line is found by its own name, in any letter case, and its value is the text
// after the colon less one blank.
void CheckLookups(const TExStringList& lines) {
    for (int i = 0; i < lines.Count(); ++i) {
        QByteArray name;
        if (!TExStringList::NameOf(lines[i], name)) {
            continue;
        }
        const int found = lines.IndexOfName(name.toUpper());
        fuzz::Require(found >= 0 && found <= i, "a header line is found by its name");
        const QByteArray rest = lines[found].mid(name.size() + 1);
        const QByteArray value = lines.GetValue(name);
        fuzz::Require(value == rest || " " + value == rest, "a value is the text after the colon");
    }
}

// Whatever a header line or a typed id holds, what is found or taken as a Message-ID is one
// (no blank or control character that could start a second command), and a news: or nntp:
// URL names only a Message-ID or a group name.
void CheckMessageIds(const TExStringList& lines) {
    for (int i = 0; i < lines.Count(); ++i) {
        const QByteArray& line = lines[i];
        for (const qsizetype at : {qsizetype(0), line.size() / 3, line.size() / 2, line.size()}) {
            const QByteArray found = nntpwire::MessageIdAt(line, at);
            fuzz::Require(found.isEmpty() || nntpwire::IsMessageId(found),
                          "an id found under the cursor is a Message-ID");
        }
        try {
            fuzz::Require(nntpwire::IsMessageId(nntpwire::CheckedMessageId(line)),
                          "a checked id is a Message-ID");
        } catch (const Exception&) {
        }
        try {
            const nntpwire::NewsUrl url = nntpwire::ParseNewsUrl(line);
            fuzz::Require(url.messageId.isEmpty() ? nntpwire::IsGroupName(url.group)
                                                  : nntpwire::IsMessageId(url.messageId),
                          "a URL names a Message-ID or a group");
        } catch (const Exception&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::TArticle article = fuzz::SplitArticle(fuzz::Bytes(data, size));
    TExStringList lines;
    lines.Assign(article.header);
    CheckLookups(lines);
    TPostRecordType record(lines);
    ReadCommonFields(record);
    HeaderDisplayText(lines);
    CheckMessageIds(lines);

    // A value set under a name from the article reads back as set, and an empty one removes it.
    const QByteArray name = article.body.Count() > 1 ? article.body[0] : QByteArray("Subject");
    if (!name.contains(':') && !name.isEmpty()) {
        const QByteArray value = article.body.Count() > 2 ? article.body[1] : QByteArray("x");
        lines.SetValue(name, value);
        if (!value.isEmpty()) {
            fuzz::Require(lines.GetValue(name) == value, "a value set reads back");
        }
        lines.SetValue(name, QByteArray());
        ReadCommonFields(record);
    }
    return 0;
}
