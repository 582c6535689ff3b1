#include "StatusFieldsView.h"

#include "display/DBar.h"

#include <QLabel>
#include <QLineEdit>

namespace {

// A line edit given its own text again still repaints and drops the user's
// selection; most ticks change nothing, so only a change is written.
void setTextIfChanged(QLineEdit* edit, const std::string& text)
{
    const QString value = QString::fromStdString(text);
    if (edit->text() != value)
        edit->setText(value);
}

} // namespace

StatusFieldsView::StatusFieldsView(StatusControls controls)
    : m_controls(controls)
{
}

void StatusFieldsView::showFileSize(const std::string& text)
{
    setTextIfChanged(m_controls.edFileSize, text);
}

void StatusFieldsView::showSerialNumber(const std::string& text)
{
    setTextIfChanged(m_controls.edSN, text);
}

void StatusFieldsView::showLinkStatus(const std::string& text)
{
    m_controls.linkStatus->setText(QString::fromStdString(text)); // QLabel skips an equal text
}

void StatusFieldsView::showLinkLost()
{
    hideGps();
    for (DBar* graph : m_controls.graphs) {
        if (graph)
            graph->SetStale(true);
    }
}

void StatusFieldsView::showLimits(int receiver, const std::string& minimum, const std::string& maximum,
                                  const std::string& step)
{
    setTextIfChanged(m_controls.edMin[receiver], minimum);
    setTextIfChanged(m_controls.edMax[receiver], maximum);
    setTextIfChanged(m_controls.edStep[receiver], step);
}

void StatusFieldsView::showClock(const std::string& date, const std::string& time, const std::string& marker)
{
    setTextIfChanged(m_controls.edRTCDate, date);
    setTextIfChanged(m_controls.edRTCTime, time);
    setTextIfChanged(m_controls.edMarker, marker);
}

void StatusFieldsView::hideGps()
{
    if (m_controls.gbGPS) {
        m_controls.gbGPS->setVisible(false);
        m_controls.gbGPS->setEnabled(false);
    }
}
