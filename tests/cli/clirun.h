#pragma once

// Runs zknews-cli's command lines in the test's own process, with standard input, output and
// error held in memory.
#include "cli/clicommands.h"

#include <QBuffer>
#include <QByteArray>
#include <QStringList>

struct CliResult {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline CliResult RunCliWith(const QStringList& arguments, QByteArray input = {},
                            const QByteArray& environmentPassword = {}) {
    CliResult result;
    QBuffer in(&input);
    QBuffer out(&result.out);
    QBuffer err(&result.err);
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    result.status = RunCli(arguments, environmentPassword, TCliStreams{in, out, err});
    return result;
}

// The arguments that point zknews-cli at a server on this machine, then the command.
inline QStringList AtPort(quint16 port, const QStringList& command) {
    return QStringList{QStringLiteral("--port"), QString::number(port)} + command;
}
