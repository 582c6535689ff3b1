#include "display/BarColumns.h"

#include <gtest/gtest.h>

TEST(BarColumns, secondBarRightEveryFurtherLeft)
{
    BarColumns c;
    c.resize(427);
    EXPECT_EQ(c.place(100), 100);
    EXPECT_EQ(c.place(100), 105);
    EXPECT_EQ(c.place(100), 95);
    EXPECT_EQ(c.place(100), 95);
    // The shifted bar occupies its new column.
    EXPECT_EQ(c.useOf(105), 1);
    EXPECT_EQ(c.place(105), 110);

    c.clear();
    EXPECT_EQ(c.place(100), 100);
    EXPECT_EQ(c.place(105), 105);
}

TEST(BarColumns, widePlotsStayInsideTheTable)
{
    BarColumns c;
    c.resize(3000);
    EXPECT_EQ(c.place(3000), 3000);
    EXPECT_EQ(c.place(3000), 3005);
    EXPECT_EQ(c.useOf(3005), 1);
    EXPECT_EQ(c.place(3000), 2995);

    // Columns outside the table are drawn where asked and never counted.
    EXPECT_EQ(c.place(-3), -3);
    EXPECT_EQ(c.place(-3), -3);
    EXPECT_EQ(c.place(1 << 20), 1 << 20);
    EXPECT_EQ(c.useOf(-3), 0);

    c.resize(100); // never below 2048 columns
    EXPECT_EQ(c.place(2047), 2047);
    EXPECT_EQ(c.place(2047), 2052);
    EXPECT_EQ(c.useOf(2052), 0);
    EXPECT_EQ(c.place(2047), 2042);
}
