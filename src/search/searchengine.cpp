#include "search/searchengine.h"

#include "util/presenter.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>

qint32 LastMatchStart = 0;
qint32 LastMatchEnd = 0;
bool LastMatchError = false;

namespace {

const QByteArray kRegexPrefix = QByteArrayLiteral("ZKRE:");
// Every find text is compiled as "(?U)(?m)" in front of it would: given as options, they leave
// the expression the user's own, so that an error's place in it is the place the user sees.
constexpr uint32_t kPatternOptions = PCRE2_UNGREEDY | PCRE2_MULTILINE;
const QByteArray kEscapedCharacters = QByteArrayLiteral("\\^$.|+(){}[]");
// Room for 333 start/end pairs; only the first pair, the whole match, is read.
constexpr uint32_t kMatchPairs = 333;

// The one-entry memo of WildcardToRegex, kept for the whole run.
struct TWildcardMemo {
    QByteArray input;
    QByteArray output;
};
TWildcardMemo wildcardMemo;

void ResetMatch() {
    LastMatchStart = 0;
    LastMatchEnd = 0;
    LastMatchError = false;
}

QString ErrorMessage(int errorCode) {
    std::array<PCRE2_UCHAR, 256> buffer{};
    pcre2_get_error_message(errorCode, buffer.data(), buffer.size());
    return QString::fromLatin1(reinterpret_cast<const char*>(buffer.data()));
}

struct TMatchDataRelease {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// The last expression compiled successfully, kept for the whole run: a search runs the same
// find text over every line of a summary, and compiling it once per line dominated the time.
// An expression that fails to compile is not kept, so that each new search reports it again.
struct TCompiledMemo {
    QByteArray expression;
    TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter;
    bool caseless = false;
    TCompiledRegex regex;
};
TCompiledMemo compiledMemo;

TCompiledRegex CompileWithOptions(const QByteArray& expression, TSubjectCoding coding,
                                  uint32_t options);

// expression is compiled with the pattern options, and caseless when asked.
const TCompiledRegex& CompiledOnce(const QByteArray& expression, TSubjectCoding coding,
                                   bool caseless) {
    if (!compiledMemo.regex || compiledMemo.expression != expression ||
        compiledMemo.coding != coding || compiledMemo.caseless != caseless) {
        compiledMemo.regex = CompileWithOptions(expression, coding,
                                                kPatternOptions | (caseless ? PCRE2_CASELESS : 0));
        // Machine code where the library offers it: one match over a whole summary of 100,000
        // entries takes under a millisecond instead of over ten. Without it, matching is
        // interpreted.
        if (compiledMemo.regex) {
            pcre2_jit_compile(compiledMemo.regex.get(), PCRE2_JIT_COMPLETE);
        }
        // A copy of its own: expression may be a view of the caller's bytes.
        compiledMemo.expression = QByteArray(expression.constData(), expression.size());
        compiledMemo.coding = coding;
        compiledMemo.caseless = caseless;
    }
    return compiledMemo.regex;
}

// The last find text MatchPatternCase prepared, with its case choice and the prefixed find
// text it became.
struct TPreparedMemo {
    QByteArray findText;
    bool caseSensitive = false;
    QByteArray prepared;
};
TPreparedMemo preparedMemo;

// The find text as MatchPatternCase matches it: "zkre:" and an expression, a plain text
// converted; empty when there is nothing to match.
const QByteArray& PreparedFindText(const QByteArray& findText, bool caseSensitive) {
    if (findText != preparedMemo.findText || caseSensitive != preparedMemo.caseSensitive ||
        preparedMemo.prepared.isEmpty()) {
        QByteArray text = WithoutLeadingAsterisks(findText);
        if (!text.isEmpty() && !HasRegexPrefix(text)) {
            text = kRegexPrefix + WildcardToRegex(text);
        }
        preparedMemo = {findText, caseSensitive, text};
    }
    return preparedMemo.prepared;
}

// The expression of a prepared find text, a view of its bytes.
QByteArray ExpressionOf(const QByteArray& prepared) {
    return QByteArray::fromRawData(prepared.constData() + kRegexPrefix.size(),
                                   prepared.size() - kRegexPrefix.size());
}

bool RegexMatchWith(const QByteArray& expression, const QByteArray& subject, TSubjectCoding coding,
                    bool caseless) {
    if (subject.isEmpty()) {
        return false;
    }
    const TCompiledRegex& regex = CompiledOnce(expression, coding, caseless);
    if (!regex) {
        LastMatchError = true;
        return false;
    }
    return ExecRegex(regex, subject);
}

TCompiledRegex CompileWithOptions(const QByteArray& expression, TSubjectCoding coding,
                                  uint32_t options) {
    const bool utf8 = coding == TSubjectCoding::Utf8;
    // A subject that is not UTF-8 where it should be is searched all the same: what is not
    // UTF-8 in it matches nothing, instead of failing the whole match.
    if (utf8) {
        options |= PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
    }
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    TCompiledRegex regex(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.constData()),
                                       static_cast<PCRE2_SIZE>(expression.size()), options,
                                       &errorCode, &errorOffset, nullptr));
    if (!regex) {
        const qsizetype offset = static_cast<qsizetype>(errorOffset);
        const auto text = [utf8](const QByteArray& bytes) {
            return utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
        };
        const QString before = text(expression.left(offset));
        ShowInfo(QStringLiteral("Regular Expression Error :-\r\n") + ErrorMessage(errorCode) +
                 QStringLiteral(" at character ") + QString::number(before.size() + 1) +
                 QStringLiteral("\r\n") + before + QStringLiteral(" HERE-->") +
                 text(expression.mid(offset)));
    }
    return regex;
}

pcre2_match_data* MatchData() {
    static const std::unique_ptr<pcre2_match_data, TMatchDataRelease> data(
        pcre2_match_data_create(kMatchPairs, nullptr));
    return data.get();
}

} // namespace

void TRegexRelease::operator()(pcre2_real_code_8* code) const {
    pcre2_code_free(code);
}

QByteArray WildcardToRegex(const QByteArray& text) {
    if (text == wildcardMemo.input) {
        return wildcardMemo.output;
    }
    QByteArray expression;
    expression.reserve(text.size() * 2);
    for (const char c : text) {
        if (kEscapedCharacters.contains(c)) {
            expression += '\\';
            expression += c;
        } else if (c == '*') {
            expression += ".*";
        } else if (c == '?') {
            expression += ".{1}";
        } else {
            expression += c;
        }
    }
    wildcardMemo = {text, expression};
    return expression;
}

TCompiledRegex CompileRegex(const QByteArray& expression, TSubjectCoding coding) {
    return CompileWithOptions(expression, coding, 0);
}

bool ExecRegex(const TCompiledRegex& regex, const QByteArray& subject) {
    ResetMatch();
    pcre2_match_data* matchData = MatchData();
    const auto match = [&](uint32_t options) {
        return pcre2_match(regex.get(), reinterpret_cast<PCRE2_SPTR>(subject.constData()),
                           static_cast<PCRE2_SIZE>(subject.size()), 0, options, matchData, nullptr);
    };
    int result = match(0);
    // The machine code's stack is small; the interpreter goes where it cannot.
    if (result == PCRE2_ERROR_JIT_STACKLIMIT) {
        result = match(PCRE2_NO_JIT);
    }
    if (result >= 0) {
        const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(matchData);
        LastMatchEnd = static_cast<qint32>(offsets[1]);
        LastMatchStart = static_cast<qint32>(offsets[0]) + 1;
        return true;
    }
    if (result != PCRE2_ERROR_NOMATCH) {
        LastMatchError = true;
        ShowInfo(QStringLiteral("Internal PCRE Matching Error"));
    }
    return false;
}

bool RegexMatch(const QByteArray& expression, const QByteArray& subject, TSubjectCoding coding) {
    return RegexMatchWith(expression, subject, coding, false);
}

bool MatchPattern(const QByteArray& findText, const QByteArray& subject, TSubjectCoding coding) {
    ResetMatch();
    if (HasRegexPrefix(findText)) {
        // A view of the expression, not a copy: this runs once per line searched.
        return RegexMatch(ExpressionOf(findText), subject, coding);
    }
    const QByteArray plain = WithoutLeadingAsterisks(findText);
    if (plain.isEmpty()) {
        return false;
    }
    return RegexMatch(WildcardToRegex(plain), subject, coding);
}

bool MatchPatternCase(const QByteArray& findText, const QByteArray& subject, bool caseSensitive,
                      TSubjectCoding coding) {
    ResetMatch();
    const QByteArray& prepared = PreparedFindText(findText, caseSensitive);
    if (prepared.isEmpty()) {
        return false;
    }
    return RegexMatchWith(ExpressionOf(prepared), subject, coding, !caseSensitive);
}

bool FindTextCompiles(const QByteArray& findText, bool caseSensitive, TSubjectCoding coding) {
    ResetMatch();
    const QByteArray& prepared = PreparedFindText(findText, caseSensitive);
    if (prepared.isEmpty()) {
        return true;
    }
    LastMatchError = !CompiledOnce(ExpressionOf(prepared), coding, !caseSensitive);
    return !LastMatchError;
}

bool HasRegexPrefix(const QByteArray& findText) {
    return findText.size() >= kRegexPrefix.size() &&
           qstrnicmp(findText.constData(), kRegexPrefix.constData(),
                     static_cast<size_t>(kRegexPrefix.size())) == 0;
}

QByteArray WithoutLeadingAsterisks(const QByteArray& findText) {
    qsizetype first = 0;
    while (first < findText.size() && findText[first] == '*') {
        ++first;
    }
    return findText.mid(first);
}
