// The Date header field as servers and posting programs write it, read into UTC.
#include "codec/headerdate.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QDateTime Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc());
}

} // namespace

TEST(HeaderDate, ReadsTheSyntaxesInUseIntoUtc) {
    struct Case {
        const char* value;
        QDateTime time;
    };
    const Case cases[] = {
        {"Tue, 8 Dec 2026 10:00:00 +0000", Utc(2026, 12, 8, 10, 0)},
        {"Tue, 08 Dec 2026 10:00:00 +0100", Utc(2026, 12, 8, 9, 0)},
        {"Tue, 8 Dec 2026 22:30:15 -0530", Utc(2026, 12, 9, 4, 0, 15)},
        {"8 Dec 2026 10:00:00 -0000", Utc(2026, 12, 8, 10, 0)},
        {"tue, 8 dec 2026 10:00 GMT", Utc(2026, 12, 8, 10, 0)},
        {"Tue,8 Dec 2026 10:00:00 UT", Utc(2026, 12, 8, 10, 0)},
        {"Tue, 8 Dec 2026 10:00:00 EST", Utc(2026, 12, 8, 15, 0)},
        {"Tue, 8 Dec 2026 10:00:00 PDT", Utc(2026, 12, 8, 17, 0)},
        {"Tue, 8 Dec 2026 10:00:00 Z", Utc(2026, 12, 8, 10, 0)},
        {"Tue, 8 Dec 2026 10:00:00", Utc(2026, 12, 8, 10, 0)},
        {"Tue, 8 Dec 2026 10:00:00 +0000 (UTC)", Utc(2026, 12, 8, 10, 0)},
        {"(sent (late)) Tue, 8 (the eighth) Dec 2026 10:00:00 +0000", Utc(2026, 12, 8, 10, 0)},
        {"  Tue,\t8 December 2026 10:00:00 +0000\r\n", Utc(2026, 12, 8, 10, 0)},
        {"Thu, 1 Jan 98 00:00:00 +0000", Utc(1998, 1, 1, 0, 0)},
        {"Thu, 1 Jan 04 00:00:00 +0000", Utc(2004, 1, 1, 0, 0)},
        {"Thu, 1 Jan 104 00:00:00 +0000", Utc(2004, 1, 1, 0, 0)},
        {"Sat, 31 Dec 2016 23:59:60 +0000", Utc(2016, 12, 31, 23, 59, 59)},
        {"Fri, 1 Jan 2027 00:30:00 +0100", Utc(2026, 12, 31, 23, 30)},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(ParseHeaderDate(test.value), test.time) << test.value;
    }
}

TEST(HeaderDate, WhatIsNoDateReadsAsInvalid) {
    for (const char* value :
         {"", "   ", "yesterday", "Tue, 8 Dec", "Tue, 32 Dec 2026 10:00:00 +0000",
          "Tue, 29 Feb 2026 10:00:00 +0000", "Tue, 8 Foo 2026 10:00:00 +0000",
          "Tue, 8 Dec 2026 25:00:00 +0000", "Tue, 8 Dec 2026 10:61:00 +0000",
          "Tue, 8 Dec 2026 10 +0000", "Tue, 8 Dec 2026 10:00:00:00 +0000",
          "Tue, 8 Dec 2026 10:00:00 +01:00", "Tue, 8 Dec 2026 10:00:00 +0099",
          "Tue, 8 Dec 2026 10:00:00 +1", "Tue, 8 Dec 7 10:00:00 +0000",
          "Tue, 123456 Dec 2026 10:00:00 +0000", "Tue, -8 Dec 2026 10:00:00 +0000",
          "(Tue, 8 Dec 2026 10:00:00 +0000)", "2026-12-08T10:00:00Z"}) {
        EXPECT_FALSE(ParseHeaderDate(value).isValid()) << value;
    }
}
