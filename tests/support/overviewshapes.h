#pragma once

// XOVER summary lines of the shapes servers send, numbered 1 to kOverviewShapes in order: all
// fields, an extra field, encoded words, a number alone, fields missing at the end, a CR
// inside a field, empty fields and more than nine, blanks around fields and junk around the
// ids of References, and two articles that refer to each other (and one to itself). Without
// their line ends.

#include <QByteArray>
#include <QList>

constexpr int kOverviewShapes = 10;

inline QList<QByteArray> OverviewShapes() {
    return {
        "1\tPlain subject\tann@x\tMon, 1 Jan 2024 10:00:00 +0000\t<1@x>\t\t100\t3",
        "2\tRe: Plain subject\tbob@x\tTue\t<2@x>\t<1@x>\t200\t4\tXref: h a.b:2",
        "3\t=?UTF-8?Q?caf=C3=A9?=\t=?ISO-8859-1?Q?M=FCller?= <m@x>\tWed\t<3@x>\t<1@x> <2@x>\t1\t1",
        "4",
        "5\tshort\tc@x",
        "6\tcarriage\rreturn\td@x\tThu\t<6@x>\t<3@x>\t1\t1",
        "7\t\t\t\t\t\t\t\tx\ty\tz",
        "8\t  spaced subject \t e@x\tFri\t <8@x> \tjunk <6@x> more\t1\t1",
        "9\tRe: loop\tf@x\tSat\t<9@x>\t<9@x> <10@x>\t1\t1",
        "10\tRe: loop\tg@x\tSun\t<10@x>\t<9@x>\t1\t1",
    };
}

// The lines as the fake server's script sends them.
inline QByteArray OverviewShapesScript() {
    QByteArray script;
    for (const QByteArray& line : OverviewShapes()) {
        script += "S: " + line + '\n';
    }
    return script;
}
