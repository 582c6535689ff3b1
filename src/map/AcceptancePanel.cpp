#include "AcceptancePanel.h"

#include <QFormLayout>
#include <QLabel>

#include <cmath>

namespace {
QString percent(double fraction)
{
    return QStringLiteral("%1 %").arg(fraction * 100, 0, 'f', 1);
}
} // namespace

AcceptancePanel::AcceptancePanel(QWidget* parent)
    : QWidget(parent), m_channel(new QLabel(this)), m_tested(new QLabel(this)), m_passed(new QLabel(this)),
      m_reliability(new QLabel(this)), m_verdict(new QLabel(this)), m_needed(new QLabel(this)), m_nearest(new QLabel(this))
{
    auto* form = new QFormLayout(this);
    const std::pair<QLabel*, QString> rows[] = {
        {m_channel, tr("Channel")},           {m_tested, tr("Tested tiles")},
        {m_passed, tr("Passed tiles")},       {m_reliability, tr("Reliability")},
        {m_verdict, tr("Verdict")},           {m_needed, tr("Tiles still needed")},
        {m_nearest, tr("Nearest undriven tile")},
    };
    for (const auto& [label, name] : rows) {
        label->setAccessibleName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setWordWrap(true);
        form->addRow(name + QLatin1Char(':'), label);
    }
    showSection(nullptr);
    showNearest(std::nullopt, false, true);
}

void AcceptancePanel::showSection(const AcceptanceSection* s)
{
    if (!s) {
        m_channel->setText(tr("Nothing of the chosen receiver and frequency driven yet"));
        for (QLabel* l : {m_tested, m_passed, m_reliability, m_verdict, m_needed})
            l->setText(tr("—"));
        return;
    }
    const AcceptanceFigures& f = s->figures;
    QString channel = QStringLiteral("%1 %2 MHz").arg(s->receiver == 0 ? tr("Both receivers") : QString::fromStdString(s->receiverText()))
                          .arg(s->frequencyMHz, 0, 'f', 4);
    if (s->channel)
        channel += tr(" (channel %1)").arg(s->channel);
    m_channel->setText(channel);
    m_tested->setText(tr("%1 of %2 in the area; %3 driven with too few samples, %4 not driven")
                          .arg(f.tilesTested)
                          .arg(f.tilesInArea)
                          .arg(f.tilesUntested - f.tilesNotDriven)
                          .arg(f.tilesNotDriven));
    m_passed->setText(tr("%1, at %2 dBm or more").arg(f.tilesPassed).arg(m_requirement.thresholdDbm));
    m_reliability->setText(f.tilesTested ? tr("%1 (bounds %2 to %3)")
                                               .arg(percent(f.reliability), percent(f.lowerBound), percent(f.upperBound))
                                         : tr("none tested yet"));
    m_verdict->setText(tr("%1: %2 required at %3 confidence")
                           .arg(QLatin1String(AcceptanceFigures::verdictText(f.verdict)),
                                percent(m_requirement.reliability), percent(m_requirement.confidence)));
    m_needed->setText(f.tilesNeeded ? tr("about %1 more tested tiles at this rate").arg(*f.tilesNeeded)
                      : f.verdict == AcceptanceFigures::Verdict::Inconclusive ? tr("no number at this rate")
                                                                               : tr("none: decided"));
}

void AcceptancePanel::showNearest(const std::optional<NearestUndriven::Answer>& nearest, bool hasFix, bool hasArea)
{
    if (!hasArea)
        m_nearest->setText(tr("no area given: the driven tiles are the area"));
    else if (!hasFix)
        m_nearest->setText(tr("no position fix yet"));
    else if (!nearest)
        m_nearest->setText(tr("none: every tile of the area has been driven"));
    else
        m_nearest->setText(nearest->metres < 1000
                               ? tr("%1, %2 m").arg(QString::fromStdString(nearest->compass)).arg(std::lround(nearest->metres))
                               : tr("%1, %2 km").arg(QString::fromStdString(nearest->compass)).arg(nearest->metres / 1000, 0, 'f', 1));
}

void AcceptancePanel::showProblem(const QString& text)
{
    showSection(nullptr);
    m_channel->setText(text);
}

void AcceptancePanel::setNearestShown(bool shown)
{
    m_nearestShown = shown;
    static_cast<QFormLayout*>(layout())->setRowVisible(m_nearest, shown);
}
