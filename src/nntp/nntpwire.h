#pragma once

// The news protocol's wire formats as pure functions over bytes (RFC 977 / RFC 3977 and the
// XOVER extension). The client only moves bytes; everything here is tested without a socket.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

namespace nntpwire {

// The nine summary fields of an XOVER line, as header-line prefixes, in wire order.
extern const char* const kSummaryPrefixes[9];

// The line without its line end: CR LF or a bare LF, whichever is there.
QByteArray StripLineEnd(QByteArray line);
// The length of the line without its line end.
qsizetype LengthWithoutLineEnd(QByteArrayView line);

// True for the line that ends a multi-line reply: a single "." (line end already stripped).
inline bool IsTerminator(const QByteArray& line) {
    return line.size() == 1 && line[0] == '.';
}

// RFC 3977, section 3.1.1: a data line that begins with "." was sent with one more "."
// in front, which the receiver removes.
QByteArray Unstuff(const QByteArray& line);

// The integer value of a decimal word; raises the conversion error "'x' is not a valid
// integer value" for anything else.
int StrToInt(const QByteArray& word);
// As StrToInt, with fallback for text that is not a number.
int StrToIntDef(const QByteArray& word, int fallback);

struct GroupLine {
    QByteArray name;
    int first = 0;
    int last = 0;
    bool posting = false;
};
// A LIST line: name, last article number, first article number, posting status ("y" and "m"
// accept posts). A number that is not a number raises the conversion error.
GroupLine ParseGroupLine(const QByteArray& line);

// The groups of the data lines of a LIST (ACTIVE) or NEWGROUPS reply, its "." line left out:
// each line "name high low status" (RFC 3977, section 7.6.3), the status optional. A line that
// is not one raises an error that names the command and the line and quotes it; no group is
// taken then, not even those before it.
QList<GroupLine> ParseGroupList(const QList<QByteArray>& lines, const QByteArray& command);

// RFC 3977, section 7.3: "NEWGROUPS yyyymmdd hhmmss GMT", asking for the groups created after
// since (taken in UTC).
QByteArray NewGroupsCommand(const QDateTime& since);

// RFC 3977, section 7.1: the server's time of a DATE reply ("111 yyyymmddhhmmss"), in UTC. A
// reply without such a time raises an error that quotes it.
QDateTime ParseDateReply(const QByteArray& reply);

struct GroupRange {
    int first = 0;
    int last = 0;
    int count = 0;
};
// The range and the estimated article count of a GROUP reply ("211 count first last name"); 0
// where a word is not a number.
GroupRange ParseGroupReply(const QByteArray& reply);

// Where the fields of an XOVER summary line lie: at most nine, separated by tabs, each given by
// the position after its end; text past the ninth field is not part of any. Found once per
// line while the reply is still arriving, so that the header lines are made without a search.
struct SummaryFields {
    std::array<quint32, 9> ends{};
    int count = 0;
    bool hasCr = false;

    QByteArrayView Field(QByteArrayView line, int index) const {
        const quint32 start = index == 0 ? 0 : ends[index - 1] + 1;
        return line.sliced(start, ends[index] - start);
    }
};
SummaryFields LocateSummaryFields(QByteArrayView line);
// The fields of a summary line by index, as the overview orders them.
enum SummaryField : quint8 {
    kNumberField = 0,
    kSubjectField = 1,
    kFromField = 2,
    kDateField = 3,
    kMessageIdField = 4,
    kReferencesField = 5,
};
// The line with its first CR made a NUL byte, as the client reports summaries: a CR may not
// stand in a header field.
QByteArray SummaryCrAsNul(QByteArray line);

// The header lines of one XOVER summary line: at most nine tab-separated fields, each behind
// its prefix ("Artid: 12", "Subject: ..."); fields past the ninth are dropped. A CR inside the
// line is overwritten by a NUL byte.
QList<QByteArray> SplitSummaryLine(QByteArray line);

// A reply line that is binary data, no text: it does not start with the three digits and the
// blank or line end of a status code (RFC 3977, section 3.2), and holds a control byte other
// than TAB, CR and LF.
bool IsBinaryReply(QByteArrayView line);

// RFC 3977, section 5.2: a line of the CAPABILITIES list names its capability by its first
// word, without regard to letter case ("STARTTLS", "AUTHINFO USER SASL").
bool IsCapabilityLine(const QByteArray& line, const QByteArray& capability);

// RFC 3977, section 3.1.1: every line of text to be sent as a multi-line block that begins
// with "." gets one more "." in front. Lines end with LF (CR LF).
QByteArray DotStuff(const QByteArray& text);

// The value of one parameter of a MIME header field ("multipart/mixed; boundary=XyZ"), the
// field already unfolded; empty when it is absent. The text before the first ";" is the field's
// own value, not a parameter. Names compare without regard to case, blanks may surround "=",
// a quoted value loses its quotes and backslash escapes. RFC 2231: an extended value
// ("name*=utf-8''a%20b") is preferred to a plain one and comes percent-decoded without its
// charset and language (the bytes are those of the charset), and numbered sections
// ("name*0=", "name*1*=") are joined in order.
QByteArray HeaderParameter(const QByteArray& fieldValue, const QByteArray& name);

// The text of one parameter, as HeaderParameter finds it: an RFC 2231 extended value in the
// charset it names; a plain one with its RFC 2047 encoded words decoded, as common mail
// programs write file names ("=?UTF-8?B?...?="), other bytes read as undeclared.
QString HeaderParameterText(const QByteArray& fieldValue, const QByteArray& name);

// A file name of undeclared bytes taken from an article (a yEnc name=, a "begin" line), made a
// plain name by PlainFileName.
QString SafeFileName(const QByteArray& name, const QString& fallback);

// The n-th alternative for a taken file name: "stem_n.ext", where stem is the text before the
// first dot and ext everything after it ("a.tar.gz" -> "a_1.tar.gz", "README" -> "README_1").
QString NumberedFileName(const QString& name, int n);

// RFC 5536, section 3.1.3 (RFC 3977, section 3.6): a Message-ID is "<", printable US-ASCII
// without blanks, ">", at most 250 bytes; every one in use has an "@" between its two halves.
constexpr qsizetype kMaxMessageIdBytes = 250;
bool IsMessageId(QByteArrayView text);
// The Message-ID as typed, blanks around it dropped; anything that is not one (a blank or a
// control character inside, which could end the command line and start another, no "<...@...>"
// form, too long) raises an error that quotes it readably.
QByteArray CheckedMessageId(QByteArrayView typed);

// The Message-ID a cursor at position (between characters) of the line stands on: a
// "<...@...>" or a news: URL naming one ("news:abc@host", "<news:abc@host>"); empty when there
// is none. Only the word around the position is looked at, so a References line of any length
// costs no more than a short one.
QByteArray MessageIdAt(QByteArrayView line, qsizetype position);

// What a news: or nntp: URL (RFC 5538) names: an article by Message-ID ("news:<id>", also
// without the angle brackets), a group ("news:group.name"), or an article by number
// ("nntp://host/group/N"). host is empty when the URL names none (the reader's own server);
// port is 0 when the URL gives none.
struct NewsUrl {
    QByteArray messageId;
    QByteArray group;
    int number = 0;
    QString host;
    int port = 0;
};
// True for text that starts with "news:" or "nntp:" (letter case ignored).
bool IsNewsUrl(QByteArrayView text);
// The URL read; anything it cannot be (another scheme, a malformed Message-ID, a group name
// with characters no group has, an nntp: URL without host, group or number) raises an error
// that quotes it.
NewsUrl ParseNewsUrl(QByteArrayView url);

// RFC 3977, section 4.1 as used: a group name is letters, digits and "+-_.", nothing else.
bool IsGroupName(QByteArrayView name);

// The article number of an ARTICLE, HEAD or BODY reply ("220 12 <id>"); 0 when the article is
// not in the selected group, or the reply gives none.
int ReplyArticleNumber(const QByteArray& reply);

} // namespace nntpwire
