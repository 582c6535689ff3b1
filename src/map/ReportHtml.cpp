#include "ReportHtml.h"

#include "coverage/AcceptanceReport.h"
#include "platform/TextEscape.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {
constexpr double kSpeedOfLight = 299792458; // m/s
constexpr double kLeeWavelengths = 40;
constexpr int kLeeSamples = 36; // a local mean needs as many
const char* const kPassBackground = "#e3f4e1";
const char* const kFailBackground = "#f8e0de";
const char* const kInconclusiveBackground = "#fbf0d5";

QString esc(const std::string& text)
{
    return QString::fromStdString(TextEscape::xml(text));
}

QString esc(const QString& text)
{
    return esc(text.toStdString());
}

QString count(uint64_t n)
{
    return QString::number(qulonglong(n));
}

QString dbm(double v)
{
    // Whole dBm as the receiver reports them; a fraction where an estimator made one.
    const bool whole = std::fabs(v - std::round(v)) < 1e-9;
    return QString::number(v, 'f', whole ? 0 : 1).replace(QLatin1Char('-'), QChar(0x2212)) + QStringLiteral(" dBm");
}

QString verdictColour(AcceptanceFigures::Verdict v)
{
    return QLatin1String(v == AcceptanceFigures::Verdict::Pass   ? kPassBackground
                         : v == AcceptanceFigures::Verdict::Fail ? kFailBackground
                                                                 : kInconclusiveBackground);
}

QString verdictCell(AcceptanceFigures::Verdict v)
{
    return QStringLiteral("<td bgcolor=\"%1\"><b>%2</b></td>")
        .arg(verdictColour(v), QLatin1String(AcceptanceFigures::verdictText(v)));
}

QString sectionTitle(const AcceptanceSection& s)
{
    QString t = s.receiver == 0 ? QStringLiteral("Both receivers") : QStringLiteral("Receiver %1").arg(s.receiver);
    t += QStringLiteral(", %1 MHz").arg(ReportHtml::frequencyText(s.frequencyMHz));
    if (s.channel != 0)
        t += QStringLiteral(", channel %1").arg(s.channel);
    return t;
}

QString utc(int64_t ms)
{
    if (ms == 0)
        return QStringLiteral("unknown");
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString tableStart(const QString& caption = {})
{
    QString t = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">");
    if (!caption.isEmpty())
        t += QStringLiteral("<caption>%1</caption>").arg(caption);
    return t;
}

// Figures of one section as name and value rows.
QString figuresTable(const AcceptanceReport& report, const AcceptanceSection& s)
{
    const AcceptanceFigures& f = s.figures;
    QString t = tableStart();
    auto row = [&t](const QString& name, const QString& value) {
        t += QStringLiteral("<tr><th align=\"left\" scope=\"row\">%1</th><td align=\"right\">%2</td></tr>").arg(name, value);
    };
    row(QStringLiteral("Tiles in the area"), count(f.tilesInArea));
    row(QStringLiteral("Tested (at least %1 samples)").arg(count(report.minSamples)), count(f.tilesTested));
    row(QStringLiteral("Passed (at or above %1)").arg(dbm(report.thresholdDbm)), count(f.tilesPassed));
    row(QStringLiteral("Failed"), count(f.tilesTested - std::min(f.tilesTested, f.tilesPassed)));
    row(QStringLiteral("Untested, driven (too few samples)"), count(f.tilesUntested - std::min(f.tilesUntested, f.tilesNotDriven)));
    row(QStringLiteral("Untested, not driven"), count(f.tilesNotDriven));
    row(QStringLiteral("Reliability (passed / tested)"), f.tilesTested ? ReportHtml::percentText(f.reliability) : QStringLiteral("none tested"));
    row(QStringLiteral("Lower bound (%1 confidence)").arg(ReportHtml::percentText(report.confidence)), ReportHtml::percentText(f.lowerBound));
    row(QStringLiteral("Upper bound (%1 confidence)").arg(ReportHtml::percentText(report.confidence)), ReportHtml::percentText(f.upperBound));
    row(QStringLiteral("Required reliability"), ReportHtml::percentText(report.requiredReliability));
    row(QStringLiteral("Verdict"), QStringLiteral("<b>%1</b>").arg(QLatin1String(AcceptanceFigures::verdictText(f.verdict))));
    if (f.verdict == AcceptanceFigures::Verdict::Inconclusive)
        row(QStringLiteral("Tested tiles needed to decide"),
            f.tilesNeeded ? QStringLiteral("%1 more, passing at the same rate").arg(count(*f.tilesNeeded))
                          : QStringLiteral("no number of tiles at this rate would decide it"));
    return t + QStringLiteral("</table>");
}

QString picture(const ReportHtml::Picture& p, const QString& alt)
{
    if (p.src.isEmpty())
        return QStringLiteral("<p><i>%1: nothing to draw.</i></p>").arg(alt);
    // In a paragraph of its own: Qt's rich text would otherwise put it in the heading's line.
    return QStringLiteral("<p><img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\"></p>")
        .arg(p.src, QString::number(p.size.width()), QString::number(p.size.height()), alt);
}

QString verdictSentence(const AcceptanceReport& report, const AcceptanceFigures& f)
{
    QString s = QStringLiteral("%1 of %2 tested tiles reached %3: reliability %4, between %5 and %6 at %7 "
                               "confidence, against %8 required.")
                    .arg(count(f.tilesPassed), count(f.tilesTested), dbm(report.thresholdDbm),
                         f.tilesTested ? ReportHtml::percentText(f.reliability) : QStringLiteral("undefined"),
                         ReportHtml::percentText(f.lowerBound), ReportHtml::percentText(f.upperBound),
                         ReportHtml::percentText(report.confidence), ReportHtml::percentText(report.requiredReliability));
    if (f.verdict == AcceptanceFigures::Verdict::Inconclusive)
        s += f.tilesNeeded ? QStringLiteral(" About %1 more tested tiles, passing at the same rate, would decide it.")
                                 .arg(count(*f.tilesNeeded))
                           : QStringLiteral(" No number of further tiles at this rate would decide it.");
    return s;
}

QString areaText(const AcceptanceReport& report)
{
    if (report.areaGiven())
        return QStringLiteral("The area is the polygons of <b>%1</b>; every tile whose centre lies in them counts, "
                              "driven or not.").arg(esc(report.areaFile));
    return QStringLiteral("<b>No area was given: the area is the driven tiles.</b> This report claims nothing "
                          "about ground that was not driven.");
}
} // namespace

QString ReportHtml::frequencyText(double mhz)
{
    QString t = QString::number(mhz, 'f', 6);
    while (t.endsWith(QLatin1Char('0')) && !t.endsWith(QLatin1String(".0")))
        t.chop(1);
    return t;
}

QString ReportHtml::percentText(double share)
{
    return QString::number(share * 100, 'f', 1) + QStringLiteral(" %");
}

QString ReportHtml::pageStart(const AcceptanceReport& report)
{
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<title>Coverage acceptance report %1</title>"
               "<style>body{font-family:'Liberation Sans',Arial,sans-serif;font-size:14px;max-width:60em;margin:1em auto;"
               "padding:0 1em;color:#202020}table{border-collapse:collapse;margin:0.5em 0}th{background:#f0f0f0}"
               "caption{text-align:left;font-weight:bold;padding:0.3em 0}img{max-width:100%;height:auto}"
               "td,th{vertical-align:top}"
               "@media print{.part{page-break-before:always}}</style></head><body>\n")
        .arg(esc(report.createdUtc));
}

QString ReportHtml::pageBreak()
{
    return QStringLiteral("<div class=\"part\"></div>\n");
}

QString ReportHtml::pageEnd()
{
    return QStringLiteral("</body></html>\n");
}

QString ReportHtml::front(const AcceptanceReport& report)
{
    QString h = QStringLiteral("<h1>Coverage acceptance report</h1>");
    h += QStringLiteral("<p>Made %1 from %2.</p>")
             .arg(report.createdUtc.empty() ? QStringLiteral("at an unknown time") : esc(report.createdUtc),
                  report.sources.empty() ? QStringLiteral("no named source")
                                         : esc(QString::fromStdString([&] {
                                               std::string all;
                                               for (const auto& s : report.sources)
                                                   all += (all.empty() ? "" : ", ") + s;
                                               return all;
                                           }())));
    if (report.sections.empty()) {
        h += QStringLiteral("<h2>Verdict</h2><p><b>Nothing to judge:</b> no channel of the drives has a tile in the area.</p>");
    } else if (report.sections.size() == 1) {
        const AcceptanceSection& s = report.sections.front();
        h += QStringLiteral("<table border=\"0\" cellpadding=\"10\" width=\"100%\"><tr><td bgcolor=\"%1\">"
                            "<h2>Verdict: %2</h2><p>%3</p><p>%4</p></td></tr></table>")
                 .arg(verdictColour(s.figures.verdict), QLatin1String(AcceptanceFigures::verdictText(s.figures.verdict)),
                      esc(sectionTitle(s)) + QStringLiteral(". ") + verdictSentence(report, s.figures), areaText(report));
    } else {
        int passed = 0, failed = 0;
        for (const auto& s : report.sections) {
            if (s.figures.verdict == AcceptanceFigures::Verdict::Pass)
                ++passed;
            else if (s.figures.verdict == AcceptanceFigures::Verdict::Fail)
                ++failed;
        }
        const int inconclusive = int(report.sections.size()) - passed - failed;
        h += QStringLiteral("<h2>Summary</h2><p>%1 channels: <b>%2 PASS, %3 FAIL, %4 INCONCLUSIVE</b>.</p><p>%5</p>")
                 .arg(report.sections.size()).arg(passed).arg(failed).arg(inconclusive).arg(areaText(report));
        h += tableStart() + QStringLiteral("<thead><tr><th scope=\"col\">Receiver</th><th scope=\"col\">MHz</th>"
                                           "<th scope=\"col\">Channel</th><th scope=\"col\">Tested</th>"
                                           "<th scope=\"col\">Passed</th><th scope=\"col\">Reliability</th>"
                                           "<th scope=\"col\">Bounds</th><th scope=\"col\">Verdict</th></tr></thead><tbody>");
        for (const auto& s : report.sections) {
            const AcceptanceFigures& f = s.figures;
            h += QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td><td align=\"right\">%3</td>"
                                "<td align=\"right\">%4</td><td align=\"right\">%5</td><td align=\"right\">%6</td>"
                                "<td align=\"right\">%7 to %8</td>%9</tr>")
                     .arg(esc(s.receiverText()), frequencyText(s.frequencyMHz),
                          s.channel ? QString::number(s.channel) : QStringLiteral("–"), count(f.tilesTested),
                          count(f.tilesPassed), f.tilesTested ? percentText(f.reliability) : QStringLiteral("–"),
                          percentText(f.lowerBound), percentText(f.upperBound))
                     .arg(verdictCell(f.verdict));
        }
        h += QStringLiteral("</tbody></table>");
    }

    h += QStringLiteral("<h2>The test</h2>") + tableStart();
    auto row = [&h](const QString& name, const QString& value) {
        h += QStringLiteral("<tr><th align=\"left\" scope=\"row\">%1</th><td>%2</td></tr>").arg(name, value);
    };
    row(QStringLiteral("Threshold"), dbm(report.thresholdDbm));
    row(QStringLiteral("Required reliability"), percentText(report.requiredReliability));
    row(QStringLiteral("Confidence (one-sided)"), QStringLiteral("%1 (z = %2)").arg(percentText(report.confidence)).arg(report.z, 0, 'f', 4));
    row(QStringLiteral("Tile size"), QStringLiteral("%1 m").arg(report.tileMetres, 0, 'g', 6));
    row(QStringLiteral("Tile value"), esc(std::string(AcceptanceReport::estimatorName(report.estimator))));
    row(QStringLiteral("Samples a tested tile needs"), count(report.minSamples));
    row(QStringLiteral("Area"), report.areaGiven() ? esc(report.areaFile) : QStringLiteral("the driven tiles"));
    h += QStringLiteral("</table>");
    return h;
}

QString ReportHtml::section(const AcceptanceReport& report, size_t index, const SectionPictures& pictures)
{
    const AcceptanceSection& s = report.sections.at(index);
    const QString title = esc(sectionTitle(s));
    QString h = QStringLiteral("<h2 id=\"section-%1\">%2: %3</h2>")
                    .arg(index + 1).arg(title, QLatin1String(AcceptanceFigures::verdictText(s.figures.verdict)));
    if (report.sections.size() > 1)
        h += QStringLiteral("<p>%1</p>").arg(verdictSentence(report, s.figures));
    h += QStringLiteral("<h3>Map</h3>") +
         picture(pictures.map, QStringLiteral("Map of the tiles of %1: passed, failed, untested and not driven").arg(title));
    h += QStringLiteral("<h3>Tested tiles' values</h3><table border=\"0\" cellpadding=\"0\" cellspacing=\"6\"><tr><td>%1</td><td>%2</td></tr></table>")
             .arg(picture(pictures.histogram, QStringLiteral("Histogram of the tested tiles' values in 1 dB bins, threshold marked")),
                  picture(pictures.cumulative, QStringLiteral("Cumulative distribution of the tested tiles' values, threshold marked")));
    // The figures and the failed tiles side by side: a section keeps to fewer pages.
    h += QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr><td>"
                        "<h3>Figures</h3>") + figuresTable(report, s) + QStringLiteral("</td><td width=\"24\"></td><td>");

    std::vector<const AcceptanceTile*> failed;
    for (const auto& t : s.tiles)
        if (t.state == AcceptanceTile::State::Failed)
            failed.push_back(&t);
    h += QStringLiteral("<h3>Failed tiles</h3>");
    if (failed.empty()) {
        h += QStringLiteral("<p>None.</p>");
    } else {
        // The weakest first: those a customer asks about.
        std::sort(failed.begin(), failed.end(), [](const auto* a, const auto* b) {
            return std::tie(a->valueDbm, a->key) < std::tie(b->valueDbm, b->key);
        });
        h += tableStart() + QStringLiteral("<thead><tr><th scope=\"col\">Centre latitude</th><th scope=\"col\">Centre longitude</th>"
                                           "<th scope=\"col\">Value</th><th scope=\"col\">Samples</th></tr></thead><tbody>");
        const size_t cap = report.sections.size() > kManySections ? kMaxFailedRowsOfMany : kMaxFailedRows;
        const size_t shown = std::min(failed.size(), cap);
        for (size_t i = 0; i < shown; ++i) {
            const AcceptanceTile& t = *failed[i];
            h += QStringLiteral("<tr><td align=\"right\">%1</td><td align=\"right\">%2</td><td align=\"right\">%3</td>"
                                "<td align=\"right\">%4</td></tr>")
                     .arg(t.latitude, 0, 'f', 6).arg(t.longitude, 0, 'f', 6).arg(dbm(t.valueDbm), count(t.samples));
        }
        if (failed.size() > shown)
            h += QStringLiteral("<tr><td colspan=\"4\">… and %1 more</td></tr>").arg(count(failed.size() - shown));
        h += QStringLiteral("</tbody></table>");
    }
    return h + QStringLiteral("</td></tr></table>");
}

QString ReportHtml::back(const AcceptanceReport& report)
{
    QString h = QStringLiteral("<h2>Drives used</h2>");
    if (report.drives.empty()) {
        h += QStringLiteral("<p>None.</p>");
    } else {
        h += tableStart() + QStringLiteral("<thead><tr><th scope=\"col\">File</th><th scope=\"col\">Vehicle serial</th>"
                                           "<th scope=\"col\">From (UTC)</th><th scope=\"col\">To (UTC)</th>"
                                           "<th scope=\"col\">km</th><th scope=\"col\">Samples</th></tr></thead><tbody>");
        for (const auto& d : report.drives) {
            // One pass: a file name holding "%1" must stay as it is.
            h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td align=\"right\">%5</td>"
                                "<td align=\"right\">%6</td></tr>"
                                "<tr><td colspan=\"6\">SHA-256 <span style=\"font-family: 'Liberation Mono', monospace\">%7</span></td></tr>")
                     .arg(esc(d.fileName), esc(d.serialNumber), utc(d.firstMs), utc(d.lastMs),
                          QString::number(d.distanceMetres / 1000, 'f', 2), count(d.samples), esc(d.sha256));
        }
        h += QStringLiteral("</tbody></table>");
    }

    h += QStringLiteral("<h2>Method</h2>");
    h += QStringLiteral("<p>The area is cut into tiles of %1 m (squares of equal size on the ground). A tile is "
                        "<i>tested</i> when it holds at least %2 samples; a tested tile <i>passes</i> when its value "
                        "is at or above the threshold of %3, and <i>fails</i> otherwise.</p>")
             .arg(report.tileMetres, 0, 'g', 6).arg(count(report.minSamples)).arg(dbm(report.thresholdDbm));
    QString estimator;
    switch (report.estimator) {
    case AcceptanceReport::Estimator::Median:
        estimator = QStringLiteral("the median of its samples");
        break;
    case AcceptanceReport::Estimator::P10:
        estimator = QStringLiteral("the 10th percentile of its samples (90 % of them are at or above it)");
        break;
    case AcceptanceReport::Estimator::Lee: {
        QString lengths;
        for (const auto& s : report.sections) {
            if (lengths.size() > 200) {
                lengths += QStringLiteral(", …");
                break;
            }
            lengths += (lengths.isEmpty() ? QString() : QStringLiteral(", ")) +
                       QStringLiteral("%1 m at %2 MHz").arg(kLeeWavelengths * kSpeedOfLight / (s.frequencyMHz * 1e6), 0, 'f', 1)
                           .arg(frequencyText(s.frequencyMHz));
        }
        estimator = QStringLiteral("made of Lee local means: the samples averaged as power (mW, not dBm) over "
                                   "stretches of %1 wavelengths of the drive%2, each local mean from at least %3 "
                                   "samples, and the local means averaged, again as power")
                        .arg(kLeeWavelengths)
                        .arg(lengths.isEmpty() ? QString() : QStringLiteral(" (") + lengths + QStringLiteral(")"))
                        .arg(kLeeSamples);
        break;
    }
    }
    h += QStringLiteral("<p>A tile's value is %1, in dBm.</p>").arg(estimator);
    h += QStringLiteral("<p><b>Reliability</b> = passed / tested.</p>"
                        "<p><b>Wilson score bounds</b>, with p the reliability and n the tested tiles: "
                        "(p + z²/2n ± z·√(p(1 − p)/n + z²/4n²)) / (1 + z²/n), where z = %1 is the one-sided "
                        "normal quantile of the %2 confidence.</p>"
                        "<p><b>Verdict</b>: PASS when the lower bound is at least the required reliability (%3); "
                        "FAIL when the upper bound is below it; otherwise INCONCLUSIVE, with the number of further "
                        "tested tiles, passing at the same rate, that would decide it.</p>")
             .arg(report.z, 0, 'f', 4).arg(percentText(report.confidence), percentText(report.requiredReliability));
    h += QStringLiteral("<p>%1</p>").arg(areaText(report));

    h += QStringLiteral("<h2>Sign-off</h2>") +
         QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"6\" width=\"100%\">"
                        "<tr><th scope=\"col\" width=\"34%\">Tested by</th><th scope=\"col\" width=\"22%\">Date</th>"
                        "<th scope=\"col\" width=\"44%\">Signature</th></tr>"
                        "<tr><td height=\"60\">&nbsp;<br><br><br></td><td>&nbsp;</td><td>&nbsp;</td></tr></table>");
    return h;
}
