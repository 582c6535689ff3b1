#pragma once

#include <QImage>
#include <QSize>

#include <vector>

// The report's two charts of the tested tiles' values: a histogram in 1 dB
// bins and the cumulative distribution, axes in dBm, the threshold marked as
// a vertical line with its value. `size` is logical pixels; the image holds
// `ratio` device pixels per logical one, so print stays sharp.
class ReportCharts
{
public:
    static QImage histogram(const std::vector<double>& valuesDbm, double thresholdDbm, QSize size, double ratio = 2);
    static QImage cumulative(const std::vector<double>& valuesDbm, double thresholdDbm, QSize size, double ratio = 2);

    // The 1 dB bin holding a value: bin b holds [b, b + 1) dBm.
    static int binOf(double dbm);
};
