// The search engine: a find text (the input's first line; plain with wildcards, or a regular
// expression after "zkre:") compiled and matched over the rest of the input.
#include "fuzzsupport.h"
#include "search/searchengine.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

namespace {

// A match lies within the subject; no match leaves both bounds 0.
void CheckBounds(bool found, const QByteArray& subject) {
    if (!found) {
        fuzz::Require(LastMatchStart == 0 && LastMatchEnd == 0, "no match, no bounds");
        return;
    }
    fuzz::Require(LastMatchStart >= 1 && LastMatchEnd <= subject.size() &&
                      LastMatchEnd >= LastMatchStart - 1,
                  "a match lies within the subject");
}

// Plain text is escaped: whatever the user types without the prefix compiles.
void CheckPlainTextCompiles(const QByteArray& findText) {
    const QByteArray plain = WithoutLeadingAsterisks(findText);
    if (plain.isEmpty() || HasRegexPrefix(plain)) {
        return;
    }
    const int shownBefore = fuzz::Presenter().infos;
    fuzz::Require(CompileRegex(WildcardToRegex(plain)) != nullptr &&
                      fuzz::Presenter().infos == shownBefore,
                  "a plain find text always compiles");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::Bytes(data, size);
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArray findText = lineEnd < 0 ? input : input.left(lineEnd);
    const QByteArray subject = lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1);

    CheckPlainTextCompiles(findText);
    for (const bool caseSensitive : {true, false}) {
        CheckBounds(MatchPatternCase(findText, subject, caseSensitive), subject);
    }
    CheckBounds(MatchPattern(findText, subject), subject);
    return 0;
}
