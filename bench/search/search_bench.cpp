// Matches one find text against each of 100,000 summary-like lines with MatchPatternCase, the
// way the window searches its article list, and the same matching with a QRegularExpression
// compiled once, for comparison. Prints lines per second and the ratio.
#include "search/searchengine.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <random>

namespace {

constexpr int kLines = 100000;

QByteArrayList SummaryLines() {
    const QByteArrayList names = {"Alice Smith", "bob", "Carol Jones", "dave.k", "Eve"};
    const QByteArrayList words = {"Re:",   "kernel", "patch", "PATCH",  "3.5",     "release",
                                  "notes", "for",    "the",   "driver", "patches", "question",
                                  "about", "build",  "fails", "on",     "ARM",     "(again)"};
    std::mt19937 random(20240601);
    QByteArrayList lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i) {
        QByteArray line = '[' + QByteArray::number(100000 + i) + "] " +
                          names[random() % names.size()] + " <user" +
                          QByteArray::number(random() % 1000) + "@example.com>  ";
        const int count = 4 + static_cast<int>(random() % 8);
        for (int w = 0; w < count; ++w) {
            line += words[random() % words.size()] + ' ';
        }
        lines += line;
    }
    return lines;
}

// The expression the engine compiles for a find text, for QRegularExpression to compile once.
QString EquivalentPattern(const QByteArray& findText, bool caseSensitive) {
    QByteArray text = WithoutLeadingAsterisks(findText);
    const QByteArray expression = HasRegexPrefix(text) ? text.mid(5) : WildcardToRegex(text);
    const QByteArray options = caseSensitive ? "(?U)(?m)" : "(?U)(?m)(?i)";
    return QString::fromLatin1(options + expression);
}

void Measure(const QByteArrayList& lines, const QStringList& displayLines,
             const QByteArray& findText, bool caseSensitive) {
    QElapsedTimer timer;
    timer.start();
    int engineMatches = 0;
    for (const QByteArray& line : lines) {
        engineMatches += MatchPatternCase(findText, line, caseSensitive) ? 1 : 0;
    }
    const double engineSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    timer.restart();
    const QRegularExpression regex(EquivalentPattern(findText, caseSensitive));
    int qtMatches = 0;
    for (const QString& line : displayLines) {
        qtMatches += regex.match(line).hasMatch() ? 1 : 0;
    }
    const double qtSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    std::printf("%-30s %-16s %8d matches  engine %10.0f lines/s  QRegularExpression %10.0f lines/s"
                "  ratio %.2f%s\n",
                findText.constData(), caseSensitive ? "case-sensitive" : "case-insensitive",
                engineMatches, kLines / engineSeconds, kLines / qtSeconds,
                qtSeconds / engineSeconds,
                engineMatches == qtMatches ? "" : "  (match counts differ!)");
}

} // namespace

int main() {
    const QByteArrayList lines = SummaryLines();
    QStringList displayLines;
    for (const QByteArray& line : lines) {
        displayLines += QString::fromLatin1(line);
    }
    std::printf("MatchPatternCase over %d summary lines; ratio = engine speed / QRegularExpression "
                "speed\n",
                kLines);
    for (const QByteArray& findText : {QByteArray("kernel patch"), QByteArray("re*patch?3"),
                                       QByteArray("zkre:\\bpatch(es)?\\b\\s+\\d")}) {
        for (const bool caseSensitive : {true, false}) {
            Measure(lines, displayLines, findText, caseSensitive);
        }
    }
    return 0;
}
