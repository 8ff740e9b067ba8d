#include "nntp/nntpwire.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"
#include "net/nwire.h"
#include "util/exception.h"
#include "util/filehelpers.h"

#include <QTimeZone>
#include <algorithm>
#include <cstring>
#include <optional>

namespace nntpwire {

const char* const kSummaryPrefixes[9] = {
    "Artid: ",      "Subject: ",    "From: ",  "Date: ",           "Message-Id: ",
    "References: ", "Bytecount: ", "Lines: ", "Optional-Header: ",
};

QByteArray StripLineEnd(QByteArray line) {
    // Cut in place: the line read is not copied.
    line.truncate(LengthWithoutLineEnd(line));
    return line;
}

qsizetype LengthWithoutLineEnd(QByteArrayView line) {
    if (line.endsWith("\r\n")) {
        return line.size() - 2;
    }
    return line.endsWith('\n') ? line.size() - 1 : line.size();
}

QByteArray Unstuff(const QByteArray& line) {
    return line.startsWith('.') ? line.mid(1) : line;
}

int StrToInt(const QByteArray& word) {
    bool ok = false;
    const int value = word.toInt(&ok);
    if (!ok) {
        throw Exception(QStringLiteral("'%1' is not a valid integer value")
                            .arg(QString::fromLatin1(word)));
    }
    return value;
}

int StrToIntDef(const QByteArray& word, int fallback) {
    bool ok = false;
    const int value = word.toInt(&ok);
    return ok ? value : fallback;
}

GroupLine ParseGroupLine(const QByteArray& line) {
    GroupLine group;
    group.name = NthWord(line, ' ', 1);
    group.last = StrToInt(NthWord(line, ' ', 2));
    group.first = StrToInt(NthWord(line, ' ', 3));
    const QByteArray status = NthWord(line, ' ', 4);
    group.posting = status == "y" || status == "m";
    return group;
}

namespace {

// A group line's name, its two numbers and its status; nullopt for anything else.
std::optional<GroupLine> GroupLineOf(const QByteArray& line) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() < 3 || words.size() > 4 || words[0].isEmpty()) {
        return std::nullopt;
    }
    bool highOk = false;
    bool lowOk = false;
    GroupLine group{words[0], words[2].toInt(&lowOk), words[1].toInt(&highOk), false};
    if (!highOk || !lowOk || group.first < 0 || group.last < 0) {
        return std::nullopt;
    }
    const QByteArray status = words.value(3);
    group.posting = status == "y" || status == "m";
    return group;
}

} // namespace

QList<GroupLine> ParseGroupList(const QList<QByteArray>& lines, const QByteArray& command) {
    QList<GroupLine> groups;
    groups.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<GroupLine> group = GroupLineOf(lines[i]);
        if (!group) {
            throw Exception(QStringLiteral("Malformed %1 reply, line %2 is no group line: '%3'")
                                .arg(QString::fromLatin1(command))
                                .arg(i + 1)
                                .arg(QString::fromLatin1(lines[i])));
        }
        groups.append(*group);
    }
    return groups;
}

QByteArray NewGroupsCommand(const QDateTime& since) {
    return "NEWGROUPS " +
           since.toUTC().toString(QStringLiteral("yyyyMMdd HHmmss")).toLatin1() + " GMT";
}

QDateTime ParseDateReply(const QByteArray& reply) {
    const QByteArray line = StripLineEnd(reply);
    const QByteArray stamp = NthWord(line, ' ', 2);
    const QString text = QString::fromLatin1(stamp);
    // Date and time apart: read as one, a time the local clock skips would not be valid.
    const QDate date = QDate::fromString(text.first(std::min<qsizetype>(text.size(), 8)),
                                         QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(text.mid(8), QStringLiteral("HHmmss"));
    if (stamp.size() != 14 || !date.isValid() || !time.isValid()) {
        throw Exception(QStringLiteral("Malformed DATE reply: '%1'").arg(QString::fromLatin1(line)));
    }
    return QDateTime(date, time, QTimeZone::utc());
}

GroupRange ParseGroupReply(const QByteArray& reply) {
    const QByteArray line = StripLineEnd(reply);
    return {StrToIntDef(NthWord(line, ' ', 3), 0), StrToIntDef(NthWord(line, ' ', 4), 0),
            StrToIntDef(NthWord(line, ' ', 2), 0)};
}

SummaryFields LocateSummaryFields(QByteArrayView line) {
    SummaryFields fields;
    const char* const begin = line.data();
    const size_t size = static_cast<size_t>(line.size());
    fields.hasCr = size > 0 && std::memchr(begin, '\r', size) != nullptr;
    size_t start = 0;
    while (fields.count < 9) {
        const void* tab = size > start ? std::memchr(begin + start, '\t', size - start) : nullptr;
        const size_t end = tab != nullptr ? static_cast<const char*>(tab) - begin : size;
        fields.ends[fields.count++] = static_cast<quint32>(end);
        if (tab == nullptr) {
            break;
        }
        start = end + 1;
    }
    return fields;
}

QByteArray SummaryCrAsNul(QByteArray line) {
    const qsizetype cr = line.indexOf('\r');
    if (cr >= 0) {
        line[cr] = '\0';
    }
    return line;
}

QList<QByteArray> SplitSummaryLine(QByteArray line) {
    line = SummaryCrAsNul(std::move(line));
    // Every field is kept whole: References lines of several hundred characters are common.
    const SummaryFields located = LocateSummaryFields(line);
    QList<QByteArray> fields;
    fields.reserve(located.count);
    for (int index = 0; index < located.count; ++index) {
        fields.append(kSummaryPrefixes[index] + located.Field(line, index).toByteArray());
    }
    return fields;
}

bool IsBinaryReply(QByteArrayView line) {
    const auto isDigit = [&line](qsizetype i) { return line[i] >= '0' && line[i] <= '9'; };
    const auto codeEnds = [&line] {
        return line.size() == 3 || line[3] == ' ' || line[3] == '\r' || line[3] == '\n';
    };
    if (line.size() >= 3 && isDigit(0) && isDigit(1) && isDigit(2) && codeEnds()) {
        return false;
    }
    for (const char byte : line) {
        const auto value = static_cast<unsigned char>(byte);
        if ((value < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || value == 0x7f) {
            return true;
        }
    }
    return false;
}

bool IsCapabilityLine(const QByteArray& line, const QByteArray& capability) {
    const qsizetype blank = line.indexOf(' ');
    const QByteArray label = blank < 0 ? line : line.left(blank);
    return label.compare(capability, Qt::CaseInsensitive) == 0;
}

QByteArray DotStuff(const QByteArray& text) {
    QByteArray stuffed;
    stuffed.reserve(text.size() + text.size() / 64 + 1);
    bool atLineStart = true;
    for (const char c : text) {
        if (atLineStart && c == '.') {
            stuffed += '.';
        }
        stuffed += c;
        atLineStart = c == '\n';
    }
    return stuffed;
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

qsizetype SkipBlanks(const QByteArray& text, qsizetype at) {
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    return at;
}

// A quoted string from its opening quote at `at`; `at` ends past the closing quote.
QByteArray ReadQuoted(const QByteArray& text, qsizetype& at) {
    QByteArray value;
    for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) {
            ++at;
        }
        value += text[at];
    }
    ++at;
    return value;
}

struct Parameter {
    QByteArray name; // lower case
    QByteArray value;
};

// Every "name=value" after the first ";"; pieces without "=" are skipped.
QList<Parameter> ParametersOf(const QByteArray& fieldValue) {
    QList<Parameter> parameters;
    qsizetype at = fieldValue.indexOf(';');
    while (at >= 0 && at < fieldValue.size()) {
        at = SkipBlanks(fieldValue, at + 1);
        const qsizetype equals = fieldValue.indexOf('=', at);
        const qsizetype semicolon = fieldValue.indexOf(';', at);
        if (equals < 0) {
            break;
        }
        if (semicolon >= 0 && semicolon < equals) {
            at = semicolon;
            continue;
        }
        Parameter parameter{fieldValue.mid(at, equals - at).trimmed().toLower(), QByteArray()};
        at = SkipBlanks(fieldValue, equals + 1);
        if (at < fieldValue.size() && fieldValue[at] == '"') {
            parameter.value = ReadQuoted(fieldValue, at);
            at = fieldValue.indexOf(';', at);
        } else {
            const qsizetype end = fieldValue.indexOf(';', at);
            parameter.value = fieldValue.mid(at, end < 0 ? -1 : end - at).trimmed();
            at = end;
        }
        parameters.append(parameter);
    }
    return parameters;
}

QByteArray PercentDecoded(const QByteArray& text) {
    return QByteArray::fromPercentEncoding(text);
}

// An RFC 2231 first section "charset'language'text": the text, percent-decoded.
QByteArray ExtendedValue(const QByteArray& value) {
    const qsizetype first = value.indexOf('\'');
    const qsizetype second = first < 0 ? -1 : value.indexOf('\'', first + 1);
    return PercentDecoded(second < 0 ? value : value.mid(second + 1));
}

// The charset of an RFC 2231 extended value, the text before its first "'".
QByteArray ExtendedCharset(const QByteArray& value) {
    const qsizetype quote = value.indexOf('\'');
    return quote < 0 ? QByteArray() : value.left(quote);
}

const Parameter* Find(const QList<Parameter>& parameters, const QByteArray& name) {
    for (const Parameter& parameter : parameters) {
        if (parameter.name == name) {
            return &parameter;
        }
    }
    return nullptr;
}

// The sections "name*0", "name*1*", ... joined; empty when there is no section 0.
QByteArray JoinedSections(const QList<Parameter>& parameters, const QByteArray& name) {
    QByteArray joined;
    for (int n = 0;; ++n) {
        const QByteArray section = name + '*' + QByteArray::number(n);
        if (const Parameter* plain = Find(parameters, section)) {
            joined += plain->value;
        } else if (const Parameter* encoded = Find(parameters, section + '*')) {
            // Only the first section carries the charset and language.
            joined += n == 0 ? ExtendedValue(encoded->value) : PercentDecoded(encoded->value);
        } else {
            return joined;
        }
    }
}

} // namespace

QByteArray HeaderParameter(const QByteArray& fieldValue, const QByteArray& name) {
    const QList<Parameter> parameters = ParametersOf(fieldValue);
    const QByteArray wanted = name.toLower();
    if (const Parameter* extended = Find(parameters, wanted + '*')) {
        return ExtendedValue(extended->value);
    }
    const QByteArray sections = JoinedSections(parameters, wanted);
    if (!sections.isEmpty()) {
        return sections;
    }
    const Parameter* plain = Find(parameters, wanted);
    return plain != nullptr ? plain->value : QByteArray();
}

QString HeaderParameterText(const QByteArray& fieldValue, const QByteArray& name) {
    const QList<Parameter> parameters = ParametersOf(fieldValue);
    const QByteArray wanted = name.toLower();
    // The parameter HeaderParameter reads carries the charset: the extended value, else a
    // first section that is extended.
    const Parameter* extended = Find(parameters, wanted + '*');
    if (extended == nullptr && Find(parameters, wanted + "*0") == nullptr) {
        extended = Find(parameters, wanted + "*0*");
    }
    const QByteArray value = HeaderParameter(fieldValue, name);
    return extended != nullptr ? TextOfCharset(value, ExtendedCharset(extended->value))
                               : DecodeEncodedWords(value);
}

QString SafeFileName(const QByteArray& name, const QString& fallback) {
    return PlainFileName(TextOfUndeclaredBytes(name), fallback);
}

QString NumberedFileName(const QString& name, int n) {
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char('_') + QString::number(n);
    return dot < 0 ? name + suffix : name.left(dot) + suffix + name.mid(dot);
}

namespace {

bool IsVisibleAscii(char c) {
    return c > ' ' && c < '\x7f';
}

// The text for an error message: at most 80 characters, bytes outside printable ASCII as \xNN.
QString Quoted(QByteArrayView text) {
    QString quoted;
    for (const char c : text.first(std::min<qsizetype>(text.size(), 80))) {
        quoted += c >= ' ' && c < '\x7f'
                      ? QString(QLatin1Char(c))
                      : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return text.size() > 80 ? quoted + QStringLiteral("...") : quoted;
}

bool StartsWithNoCase(QByteArrayView text, QByteArrayView prefix) {
    return text.size() >= prefix.size() &&
           text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The widest a word around a cursor is read: a news: URL of the longest Message-ID.
constexpr qsizetype kMaxWordAround = kMaxMessageIdBytes + 16;

bool IsWordBreak(char c) {
    return !IsVisibleAscii(c) || c == '"';
}

// The word (no blanks, controls or quotes) that touches position, at most kMaxWordAround to
// each side of it.
QByteArrayView WordAround(QByteArrayView line, qsizetype position) {
    qsizetype start = std::clamp<qsizetype>(position, 0, line.size());
    qsizetype end = start;
    const qsizetype leftmost = std::max<qsizetype>(0, start - kMaxWordAround);
    const qsizetype rightmost = std::min(line.size(), end + kMaxWordAround);
    while (start > leftmost && !IsWordBreak(line[start - 1])) {
        --start;
    }
    while (end < rightmost && !IsWordBreak(line[end])) {
        ++end;
    }
    return line.sliced(start, end - start);
}

// The "<...>" of the word that holds offset (or ends right before it); of two touching it,
// the one after it.
QByteArrayView BracketsAround(QByteArrayView word, qsizetype offset) {
    const qsizetype open = word.lastIndexOf('<', std::min(offset, word.size() - 1));
    if (open < 0) {
        return {};
    }
    const qsizetype close = word.indexOf('>', open);
    if (close < 0 || close + 1 < offset) {
        return {};
    }
    return word.sliced(open, close + 1 - open);
}

// The news: URL of a word, without the angle brackets or the punctuation of the sentence
// around it.
QByteArrayView UrlOfWord(QByteArrayView word) {
    if (word.startsWith('<')) {
        word = word.sliced(1);
    }
    while (!word.isEmpty() && QByteArrayView(">.,;:)!?'").contains(word.back())) {
        word.chop(1);
    }
    return word;
}

} // namespace

bool IsMessageId(QByteArrayView text) {
    if (text.size() < 5 || text.size() > kMaxMessageIdBytes || !text.startsWith('<') ||
        !text.endsWith('>')) {
        return false;
    }
    const QByteArrayView inside = text.sliced(1, text.size() - 2);
    const qsizetype at = inside.indexOf('@');
    return at > 0 && at + 1 < inside.size() &&
           std::all_of(inside.begin(), inside.end(), [](char c) {
               return IsVisibleAscii(c) && c != '<' && c != '>';
           });
}

QByteArray CheckedMessageId(QByteArrayView typed) {
    const QByteArrayView id = typed.trimmed();
    if (!IsMessageId(id)) {
        throw Exception(QStringLiteral("Not a Message-ID: '%1' (one looks like <part@domain>, "
                                       "without blanks or control characters)")
                            .arg(Quoted(typed)));
    }
    return id.toByteArray();
}

QByteArray MessageIdAt(QByteArrayView line, qsizetype position) {
    position = std::clamp<qsizetype>(position, 0, line.size());
    const QByteArrayView word = WordAround(line, position);
    if (word.isEmpty()) {
        return {};
    }
    const QByteArrayView url = UrlOfWord(word);
    if (StartsWithNoCase(url, "news:")) {
        try {
            return ParseNewsUrl(url).messageId;
        } catch (const Exception&) {
            return {};
        }
    }
    const qsizetype offset = position - (word.data() - line.data());
    const QByteArrayView id = BracketsAround(word, offset);
    return IsMessageId(id) ? id.toByteArray() : QByteArray();
}

bool IsNewsUrl(QByteArrayView text) {
    return StartsWithNoCase(text, "news:") || StartsWithNoCase(text, "nntp:");
}

bool IsGroupName(QByteArrayView name) {
    return !name.isEmpty() && name.size() <= 497 &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '+' || c == '-' || c == '_' || c == '.';
           });
}

namespace {

[[noreturn]] void FailUrl(QByteArrayView url, const QString& why) {
    throw Exception(QStringLiteral("Not a news URL: '%1' (%2)").arg(Quoted(url), why));
}

// The host and port of a URL's authority ("host", "host:port", "[::1]:port").
void ReadAuthority(QByteArrayView url, QByteArrayView authority, NewsUrl& read) {
    const qsizetype bracket = authority.startsWith('[') ? authority.indexOf(']') : 0;
    const qsizetype colon = authority.indexOf(':', std::max<qsizetype>(bracket, 0));
    QByteArrayView host = colon < 0 ? authority : authority.first(colon);
    if (bracket > 0) {
        host = host.sliced(1, bracket - 1);
    }
    if (host.isEmpty() || !std::all_of(host.begin(), host.end(), IsVisibleAscii)) {
        FailUrl(url, QStringLiteral("no host"));
    }
    read.host = QString::fromLatin1(host);
    if (colon >= 0) {
        bool ok = false;
        read.port = authority.sliced(colon + 1).toInt(&ok);
        if (!ok || read.port < 1 || read.port > 65535) {
            FailUrl(url, QStringLiteral("the port is no number from 1 to 65535"));
        }
    }
}

QByteArray CheckedGroup(QByteArrayView url, const QByteArray& group) {
    if (!IsGroupName(group)) {
        FailUrl(url, QStringLiteral("no group name"));
    }
    return group;
}

} // namespace

NewsUrl ParseNewsUrl(QByteArrayView url) {
    const bool nntp = StartsWithNoCase(url, "nntp:");
    if (!nntp && !StartsWithNoCase(url, "news:")) {
        FailUrl(url, QStringLiteral("news: or nntp: expected"));
    }
    NewsUrl read;
    QByteArrayView rest = url.sliced(5);
    if (rest.startsWith("//")) {
        rest = rest.sliced(2);
        const qsizetype slash = rest.indexOf('/');
        ReadAuthority(url, slash < 0 ? rest : rest.first(slash), read);
        rest = slash < 0 ? QByteArrayView() : rest.sliced(slash + 1);
    } else if (nntp) {
        FailUrl(url, QStringLiteral("an nntp: URL names its host: nntp://host/group/number"));
    }
    const QByteArray path = QByteArray::fromPercentEncoding(rest.toByteArray());
    if (nntp) {
        const qsizetype slash = path.indexOf('/');
        bool ok = false;
        read.number = slash < 0 ? 0 : path.sliced(slash + 1).toInt(&ok);
        if (!ok || read.number < 1) {
            FailUrl(url, QStringLiteral("nntp://host/group/number expected"));
        }
        read.group = CheckedGroup(url, path.first(slash));
    } else if (path.contains('@')) {
        const QByteArray id = path.startsWith('<') ? path : '<' + path + '>';
        if (!IsMessageId(id)) {
            FailUrl(url, QStringLiteral("a Message-ID has no blanks or control characters"));
        }
        read.messageId = id;
    } else {
        read.group = CheckedGroup(url, path);
    }
    return read;
}

int ReplyArticleNumber(const QByteArray& reply) {
    return std::max(0, StrToIntDef(NthWord(StripLineEnd(reply), ' ', 2), 0));
}

} // namespace nntpwire
