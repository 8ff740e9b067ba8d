#pragma once

#include <QByteArray>

// An opt-in log of the conversation with the server, for debugging a server that misbehaves:
// with ZKNEWS_PROTOCOL_LOG set to a file name, every line sent ("C: ") and received ("S: ") is
// appended to that file. Passwords never reach it: the argument of PASS and AUTHINFO PASS is
// masked.
namespace protocollog {

// The line as it is written to the log: the password of a PASS command replaced by asterisks.
QByteArray Masked(const QByteArray& line);

void Sent(const QByteArray& line);
void Received(const QByteArray& line);
// A line of the log's own ("-- "), such as where TLS starts.
void Note(const QByteArray& text);

} // namespace protocollog
