#pragma once

#include "coverage/AcceptanceFigures.h"
#include "coverage/AcceptanceSection.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <gtest/gtest.h>

#include <cmath>

// The window's section equals the report's --json section of the same
// receiver and frequency, figure for figure. A map keeps no channel numbers,
// so its sections are compared without them.
inline void expectReportsFigures(const AcceptanceSection& live, const QJsonArray& sections, bool withChannel = true)
{
    const QJsonValue receiver = live.receiver ? QJsonValue(live.receiver) : QJsonValue(QStringLiteral("both"));
    QJsonObject s;
    for (const QJsonValue& v : sections)
        if (v.toObject().value(QStringLiteral("receiver")) == receiver
            && std::fabs(v.toObject().value(QStringLiteral("frequency_mhz")).toDouble() - live.frequencyMHz) < 1e-6)
            s = v.toObject();
    ASSERT_FALSE(s.isEmpty()) << "no section of the report for receiver " << live.receiver << " at " << live.frequencyMHz;
    const AcceptanceFigures& f = live.figures;
    if (withChannel) {
        EXPECT_EQ(s.value(QStringLiteral("channel")).toInt(), live.channel);
    }
    EXPECT_EQ(s.value(QStringLiteral("tiles_in_area")).toInteger(), qint64(f.tilesInArea));
    EXPECT_EQ(s.value(QStringLiteral("tiles_tested")).toInteger(), qint64(f.tilesTested));
    EXPECT_EQ(s.value(QStringLiteral("tiles_passed")).toInteger(), qint64(f.tilesPassed));
    EXPECT_EQ(s.value(QStringLiteral("tiles_not_driven")).toInteger(), qint64(f.tilesNotDriven));
    if (f.tilesTested)
        EXPECT_EQ(s.value(QStringLiteral("reliability")).toDouble(), f.reliability);
    else
        EXPECT_TRUE(s.value(QStringLiteral("reliability")).isNull());
    // JSON carries 17 digits: the same double.
    EXPECT_EQ(s.value(QStringLiteral("lower_bound")).toDouble(), f.lowerBound);
    EXPECT_EQ(s.value(QStringLiteral("upper_bound")).toDouble(), f.upperBound);
    EXPECT_EQ(s.value(QStringLiteral("verdict")).toString(), QLatin1String(AcceptanceFigures::verdictText(f.verdict)));
    if (f.tilesNeeded)
        EXPECT_EQ(s.value(QStringLiteral("tiles_needed")).toInteger(), qint64(*f.tilesNeeded));
    else
        EXPECT_TRUE(s.value(QStringLiteral("tiles_needed")).isNull());
}
