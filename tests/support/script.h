#pragma once

#include "nntp/qrnntp.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <initializer_list>

// Pieces of news server conversations.
namespace script {

inline QByteArray Greeting() {
    return "S: 200 news.example ready\n";
}

// The server's clock in the DATE replies of the scripts, and as NEWGROUPS asks since it.
inline constexpr char kServerTime[] = "20260102030405";

// DATE, answered with the server's time ("yyyymmddhhmmss").
inline QByteArray Date(const QByteArray& stamp = kServerTime) {
    return "C: DATE\nS: 111 " + stamp + '\n';
}

// LIST, answered with the groups named.
inline QByteArray List(std::initializer_list<const char*> names) {
    QByteArray lines = "C: LIST\nS: 215 list of newsgroups follows\n";
    for (const char* name : names) {
        lines += "S: " + QByteArray(name) + " 10 1 y\n";
    }
    return lines + "S: .\n";
}

// The whole group list as the window asks for it with a store to keep its time: the server's
// time (kServerTime), then LIST.
inline QByteArray GroupList(std::initializer_list<const char*> names) {
    return Date() + List(names);
}

// The groups created since the group list of kServerTime, as the window asks for them on
// connecting again: the server's time, then NEWGROUPS, answered with the groups named.
inline QByteArray NewGroups(std::initializer_list<const char*> names) {
    QByteArray lines = Date() + "C: NEWGROUPS 20260102 030405 GMT\n"
                                "S: 231 list of new newsgroups follows\n";
    for (const char* name : names) {
        lines += "S: " + QByteArray(name) + " 10 1 y\n";
    }
    return lines + "S: .\n";
}

inline QByteArray Group(const QByteArray& name, int first, int last) {
    return "C: GROUP " + name + "\nS: 211 " + QByteArray::number(last - first + 1) + ' ' +
           QByteArray::number(first) + ' ' + QByteArray::number(last) + ' ' + name + '\n';
}

// One XOVER summary line: number, subject, from, date, message-id, references, bytes, lines.
// The Message-ID is "<number@example>".
inline QByteArray Summary(int number, const QByteArray& subject, const QByteArray& from,
                          const QByteArray& references = QByteArray()) {
    const QByteArray n = QByteArray::number(number);
    return "S: " + n + '\t' + subject + '\t' + from + "\tMon, 1 Jan 2024 10:00:00 +0000\t<" + n +
           "@example>\t" + references + "\t100\t3\n";
}

inline QByteArray XoverCommand(qint64 from, qint64 to) {
    return "C: XOVER " + QByteArray::number(from) + '-' + QByteArray::number(to) + '\n';
}

// The listing from..to with these summary lines (those of Summary), as the client asks for it:
// one XOVER, or for a longer listing one per TQRNNTP::kListingRange numbers, the first
// depth of them sent before any reply and one more after each reply.
inline QByteArray Overview(int from, int to, const QByteArray& summaries, int depth = 16) {
    constexpr qint64 kRange = TQRNNTP::kListingRange;
    if (depth <= 1 || qint64(to) - from < kRange) {
        return XoverCommand(from, to) + "S: 224 overview follows\n" + summaries + "S: .\n";
    }
    const qint64 ranges = (qint64(to) - from) / kRange + 1;
    QList<QByteArray> replies(ranges, "S: 224 overview follows\n");
    for (const QByteArray& line : summaries.split('\n')) {
        if (!line.isEmpty()) {
            const qint64 number = line.mid(3, line.indexOf('\t') - 3).toLongLong();
            replies[std::clamp<qint64>((number - from) / kRange, 0, ranges - 1)] += line + '\n';
        }
    }
    const auto command = [&](qint64 range) {
        const qint64 first = from + range * kRange;
        return XoverCommand(first, std::min<qint64>(first + kRange - 1, to));
    };
    QByteArray conversation;
    for (qint64 range = 0; range < std::min<qint64>(depth, ranges); ++range) {
        conversation += command(range);
    }
    for (qint64 range = 0; range < ranges; ++range) {
        conversation += replies[range] + "S: .\n";
        if (range + depth < ranges) {
            conversation += command(range + depth);
        }
    }
    return conversation;
}

// Summaries for the numbers from first to last, subject "Subject n", from "user n".
inline QByteArray Summaries(int first, int last) {
    QByteArray lines;
    for (int n = first; n <= last; ++n) {
        lines += Summary(n, "Subject " + QByteArray::number(n),
                         "user" + QByteArray::number(n) + "@example");
    }
    return lines;
}

// The reply to ARTICLE number; Article is the command and this reply.
inline QByteArray ArticleReply(int number, const QByteArray& header, const QByteArray& body) {
    QByteArray lines =
        "S: 220 " + QByteArray::number(number) + " <" + QByteArray::number(number) + "@example>\n";
    for (const QByteArray& line : header.split('\n')) {
        lines += "S: " + line + '\n';
    }
    lines += "S: \n";
    for (const QByteArray& line : body.split('\n')) {
        lines += "S: " + line + '\n';
    }
    return lines + "S: .\n";
}

inline QByteArray Article(int number, const QByteArray& header, const QByteArray& body) {
    return "C: ARTICLE " + QByteArray::number(number) + '\n' + ArticleReply(number, header, body);
}

inline QByteArray Quit() {
    return "C: QUIT\nS: 205 bye\n";
}

} // namespace script
