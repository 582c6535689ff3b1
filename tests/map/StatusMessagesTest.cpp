// tavrix-map's status bar: one message at a time, an error before notices.
#include "map/StatusMessages.h"

#include <gtest/gtest.h>

namespace {

using Kind = StatusMessages::Kind;

TEST(StatusMessages, OneAtATimeAnErrorOutlastsTheNoticesThatFollowIt)
{
    struct Step { int64_t at; const char* post; Kind kind; int64_t forMs; const char* shown; };
    const Step steps[] = {
        {0, nullptr, Kind::Notice, 0, ""},
        {0, "live", Kind::Notice, 5000, "live"},
        {100, "bad mbtiles", Kind::Error, 10000, "bad mbtiles"},
        {200, "cancelled", Kind::Notice, 5000, "bad mbtiles"},    // the error stays
        {5300, nullptr, Kind::Notice, 0, "bad mbtiles"},
        {10100, nullptr, Kind::Notice, 0, ""},                    // the notice ran out under it
        {10200, "cancelled again", Kind::Notice, 5000, "cancelled again"},
        {10300, "log cut short", Kind::Error, 15000, "log cut short"},
        {25300, nullptr, Kind::Notice, 0, ""},
    };
    StatusMessages messages;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.at);
        if (s.post)
            messages.post(QString::fromLatin1(s.post), s.kind, s.at, s.forMs);
        EXPECT_EQ(messages.current(s.at).toStdString(), s.shown);
        EXPECT_EQ(messages.nextChange(s.at).has_value(), *s.shown != '\0');
    }
    messages.post(QStringLiteral("e"), Kind::Error, 0, 100);
    messages.post(QStringLiteral("n"), Kind::Notice, 0, 500);
    EXPECT_EQ(messages.nextChange(50), 100) << "when the error ends, the notice shows";
    EXPECT_EQ(messages.current(100).toStdString(), "n");
}

} // namespace
