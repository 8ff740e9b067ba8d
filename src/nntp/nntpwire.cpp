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

QList<QByteArray> SplitSummaryLine(QByteArray line) {
    const qsizetype cr = line.indexOf('\r');
    if (cr >= 0) {
        line[cr] = '\0';
    }
    // Every field is kept whole: References lines of several hundred characters are common.
    const SummaryFields located = LocateSummaryFields(line);
    QList<QByteArray> fields;
    fields.reserve(located.count);
    for (int index = 0; index < located.count; ++index) {
        fields.append(kSummaryPrefixes[index] + located.Field(line, index).toByteArray());
    }
    return fields;
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

} // namespace nntpwire
