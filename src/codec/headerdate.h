#pragma once

#include <QByteArrayView>
#include <QDateTime>

// The time of a Date header field value (RFC 5322, section 3.3), in UTC: "Tue, 8 Dec 2026
// 10:00:00 +0100". Also read as the obsolete syntax of section 4.3 allows: no day name, no
// seconds, two- or three-digit years, the zone names UT, GMT, EST ... PDT, military letters
// and no zone at all (the last two as UTC), comments anywhere. An invalid QDateTime for a
// value that does not read as a date.
QDateTime ParseHeaderDate(QByteArrayView value);
