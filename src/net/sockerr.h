#pragma once

#include <QString>
#include <QtGlobal>

// Socket error numbers and their texts: "10061:Connection refused".
namespace sockerr {
constexpr quint16 kWouldBlock = 10035;
constexpr quint16 kNotConnected = 10057;
// The table's number for a platform socket error; 0 for an orderly close by the peer.
quint16 FromQt(int qtSocketError);
// "10061:Connection refused"; "Unknown Error No. n" for a number outside the table; empty for 0.
QString Describe(quint16 errorNumber);
} // namespace sockerr
