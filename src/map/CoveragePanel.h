#pragma once

#include "CoverageLayer.h"

#include <QWidget>

class QComboBox;
class QPlainTextEdit;

// The choices of a coverage map beside the map: the figure that colours the
// cells, the receiver and the frequency, each frequency with the samples
// and cells measured on it; below them, the figures of the cell last
// clicked, for each frequency.
class CoveragePanel : public QWidget
{
    Q_OBJECT
public:
    explicit CoveragePanel(QWidget* parent = nullptr);

    // Offers the map's frequencies and resets the choices and the cell shown.
    void setFrequencies(const std::vector<CoverageLayer::FrequencySummary>& frequencies);
    // The same, keeping the choices: a followed log brought more samples or another frequency.
    void refreshFrequencies(const std::vector<CoverageLayer::FrequencySummary>& frequencies);
    void applyTo(CoverageLayer& layer) const;
    void showCell(const QString& figures);

    QComboBox* figureBox() const { return m_figure; }
    QComboBox* receiverBox() const { return m_receiver; }
    QComboBox* frequencyBox() const { return m_frequency; }

signals:
    void choiceChanged();

private:
    static QString itemText(const CoverageLayer::FrequencySummary& f);

    QComboBox* m_figure;
    QComboBox* m_receiver;
    QComboBox* m_frequency;
    QPlainTextEdit* m_cell;
};
