#pragma once

#include "coverage/AcceptanceSection.h"
#include "coverage/NearestUndriven.h"

#include <QWidget>

#include <optional>

class QLabel;

// The running figures of an acceptance test beside a followed drive: the
// channel tested (the Coverage panel's receiver and frequency), the tiles
// tested and passed, the reliability with its bounds, the verdict, the
// tiles still needed, and which way the nearest undriven tile lies.
class AcceptancePanel : public QWidget
{
    Q_OBJECT
public:
    struct Requirement
    {
        double reliability = 0.95; // 0..1
        double confidence = 0.90;  // 0..1
        double thresholdDbm = -95;
    };

    explicit AcceptancePanel(QWidget* parent = nullptr);

    void setRequirement(const Requirement& r) { m_requirement = r; }
    // A channel's section; none: nothing of the chosen channel driven yet.
    void showSection(const AcceptanceSection* section);
    // hasFix: the vehicle's position is known; hasArea: an area was given.
    void showNearest(const std::optional<NearestUndriven::Answer>& nearest, bool hasFix, bool hasArea);
    // Why there are no figures (a map that cannot be tested), in place of them.
    void showProblem(const QString& text);
    // The nearest undriven tile's line, which a map without a vehicle lacks.
    void setNearestShown(bool shown);
    bool nearestShown() const { return m_nearestShown; }

    QLabel* channelLabel() const { return m_channel; }
    QLabel* testedLabel() const { return m_tested; }
    QLabel* passedLabel() const { return m_passed; }
    QLabel* reliabilityLabel() const { return m_reliability; }
    QLabel* verdictLabel() const { return m_verdict; }
    QLabel* neededLabel() const { return m_needed; }
    QLabel* nearestLabel() const { return m_nearest; }

private:
    Requirement m_requirement;
    bool m_nearestShown = true;
    QLabel* m_channel;
    QLabel* m_tested;
    QLabel* m_passed;
    QLabel* m_reliability;
    QLabel* m_verdict;
    QLabel* m_needed;
    QLabel* m_nearest;
};
