#include "codec/headerdate.h"

#include <QList>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <optional>

namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};

struct TZoneName {
    const char* name;
    int hours;
};
// RFC 5322, section 4.3.
constexpr TZoneName kZoneNames[] = {{"ut", 0},   {"gmt", 0},  {"utc", 0},  {"est", -5},
                                    {"edt", -4}, {"cst", -6}, {"cdt", -5}, {"mst", -7},
                                    {"mdt", -6}, {"pst", -8}, {"pdt", -7}};

bool IsDigits(QByteArrayView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> NumberOf(QByteArrayView text) {
    if (!IsDigits(text) || text.size() > 4) {
        return std::nullopt;
    }
    return QByteArrayView(text).toInt();
}

// The words of the value: comments (which nest) dropped, blanks and commas between them.
QList<QByteArrayView> DateWords(QByteArrayView value) {
    QList<QByteArrayView> words;
    int depth = 0;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        const char c = i < value.size() ? value[i] : ' ';
        const bool separates = depth > 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' ||
                               c == ',' || c == '(' || c == ')';
        if (separates && start >= 0) {
            words.append(value.sliced(start, i - start));
            start = -1;
        }
        if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (!separates && start < 0) {
            start = i;
        }
    }
    return words;
}

std::optional<int> MonthOf(QByteArrayView word) {
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (word.size() >= 3 && word.first(3).compare(kMonths[i], Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i) + 1;
        }
    }
    return std::nullopt;
}

// Two-digit years from 50 on are of the 1900s, the rest of the 2000s; three digits add 1900.
int FullYear(int year, qsizetype digits) {
    if (digits == 2) {
        return year < 50 ? 2000 + year : 1900 + year;
    }
    return digits == 3 ? 1900 + year : year;
}

std::optional<QTime> TimeOf(QByteArrayView word) {
    const QList<QByteArrayView> parts = [&] {
        QList<QByteArrayView> split;
        qsizetype start = 0;
        for (qsizetype colon = word.indexOf(':'); colon >= 0; colon = word.indexOf(':', start)) {
            split.append(word.sliced(start, colon - start));
            start = colon + 1;
        }
        split.append(word.sliced(start));
        return split;
    }();
    if (parts.size() < 2 || parts.size() > 3 ||
        !std::all_of(parts.begin(), parts.end(),
                     [](QByteArrayView part) { return part.size() <= 2 && IsDigits(part); })) {
        return std::nullopt;
    }
    // A leap second reads as the second before it.
    const int second = parts.size() == 3 ? std::min(parts[2].toInt(), 59) : 0;
    const QTime time(parts[0].toInt(), parts[1].toInt(), second);
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

// Seconds east of UTC; nullopt for a word that is no zone. Unknown zone names and military
// letters count as UTC, as RFC 5322 asks of the letters.
std::optional<int> ZoneOffset(QByteArrayView word) {
    if ((word.startsWith('+') || word.startsWith('-')) && word.size() == 5 &&
        IsDigits(word.sliced(1))) {
        const int hours = word.sliced(1, 2).toInt();
        const int minutes = word.sliced(3, 2).toInt();
        if (minutes > 59) {
            return std::nullopt;
        }
        return (word.startsWith('-') ? -1 : 1) * (hours * 3600 + minutes * 60);
    }
    for (const TZoneName& zone : kZoneNames) {
        if (word.compare(zone.name, Qt::CaseInsensitive) == 0) {
            return zone.hours * 3600;
        }
    }
    const bool letters = std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    return letters ? std::optional<int>(0) : std::nullopt;
}

} // namespace

QDateTime ParseHeaderDate(QByteArrayView value) {
    const QList<QByteArrayView> words = DateWords(value);
    qsizetype next = 0;
    if (next < words.size() && !IsDigits(words[next])) {
        ++next; // the day name, which the date itself says again
    }
    if (words.size() - next < 4) {
        return {};
    }
    const std::optional<int> day = NumberOf(words[next]);
    const std::optional<int> month = MonthOf(words[next + 1]);
    const std::optional<int> year = NumberOf(words[next + 2]);
    const std::optional<QTime> time = TimeOf(words[next + 3]);
    if (!day || !month || !year || !time || words[next + 2].size() < 2) {
        return {};
    }
    const QDate date(FullYear(*year, words[next + 2].size()), *month, *day);
    std::optional<int> offset = 0;
    if (next + 4 < words.size()) {
        offset = ZoneOffset(words[next + 4]);
    }
    if (!date.isValid() || !offset) {
        return {};
    }
    return QDateTime(date, *time, QTimeZone::utc()).addSecs(-*offset);
}
