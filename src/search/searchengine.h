#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// The search engine: every find text, plain or not, is matched as a PCRE regular expression.
// A find text is either plain, "*" standing for any run of characters and "?" for exactly one,
// or a regular expression marked by the prefix "zkre:" in any letter case. Expressions are
// compiled as with "(?U)(?m)" in front (given as the library's options, so that the expression
// compiled is the user's own): repeats take as few characters as possible, and "^" and "$"
// match at every line. Subjects and find texts are bytes, one per character, unless the
// subject is said to be UTF-8: then they are matched as Unicode characters ("?" and "." take a
// whole character, letter case and word boundaries follow Unicode), and a byte sequence that is
// not UTF-8 matches nothing.

// The bounds of the last match, 1-based: the first matched character and the last (the
// offset just past the match); both 0 when the last attempt found nothing. The match is
// LastMatchEnd - LastMatchStart + 1 characters long. Read them right after the call.
extern qint32 LastMatchStart;
extern qint32 LastMatchEnd;
// True when the last attempt could not match at all: its expression did not compile or the
// library failed while matching, and the user was told. Every further subject would fail the
// same way, so a search over many subjects stops here.
extern bool LastMatchError;

enum class TSubjectCoding { OneBytePerCharacter, Utf8 };

struct pcre2_real_code_8;
struct TRegexRelease {
    void operator()(pcre2_real_code_8* code) const;
};
// A compiled expression, released when it goes out of scope; null when compilation failed.
using TCompiledRegex = std::unique_ptr<pcre2_real_code_8, TRegexRelease>;

// The regular expression for a plain find text: the characters \^$.|+(){}[] are escaped,
// "*" becomes ".*" and "?" becomes ".{1}". The last conversion is remembered, so that a
// find text matched against many lines is converted once.
QByteArray WildcardToRegex(const QByteArray& text);

// Compiles expression as it is; on failure shows the library's message, the character of the
// expression where it failed, and the expression with that place marked " HERE-->", and
// answers null.
TCompiledRegex CompileRegex(const QByteArray& expression,
                            TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter);

// Runs a compiled expression over the whole subject; true when it matches, the bounds then in
// LastMatchStart and LastMatchEnd.
bool ExecRegex(const TCompiledRegex& regex, const QByteArray& subject);

// Compiles expression as "(?U)(?m)" in front of it would, and matches it once. An empty subject
// never matches and is not even compiled against.
bool RegexMatch(const QByteArray& expression, const QByteArray& subject,
                TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter);

// Matches a find text (prefixed expression or plain text; leading "*" of a plain text add
// nothing and are dropped). A find text made only of asterisks finds nothing.
bool MatchPattern(const QByteArray& findText, const QByteArray& subject,
                  TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter);

// MatchPattern with a choice of letter case; not case sensitive compiles every expression, the
// user's own included, as "(?i)" in front of it would (the user may switch it back with
// "(?-i)").
bool MatchPatternCase(const QByteArray& findText, const QByteArray& subject, bool caseSensitive,
                      TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter);

// Compiles the find text as MatchPatternCase would, without matching anything: false, with
// LastMatchError set and the user told why, when it cannot compile. A find text with nothing
// to match compiles.
bool FindTextCompiles(const QByteArray& findText, bool caseSensitive,
                      TSubjectCoding coding = TSubjectCoding::OneBytePerCharacter);

// True when the find text carries the regular-expression prefix "zkre:" (any letter case).
bool HasRegexPrefix(const QByteArray& findText);

// The find text without its leading asterisks.
QByteArray WithoutLeadingAsterisks(const QByteArray& findText);
