#include "CoveragePanel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>

CoveragePanel::CoveragePanel(QWidget* parent)
    : QWidget(parent), m_figure(new QComboBox(this)), m_receiver(new QComboBox(this)),
      m_frequency(new QComboBox(this)), m_cell(new QPlainTextEdit(this))
{
    for (auto f : {CoverageLayer::Figure::Median, CoverageLayer::Figure::P10, CoverageLayer::Figure::P90,
                   CoverageLayer::Figure::Count})
        m_figure->addItem(CoverageLayer::figureName(f), int(f));
    m_receiver->addItem(tr("Both"), 0);
    m_receiver->addItem(QStringLiteral("R1"), 1);
    m_receiver->addItem(QStringLiteral("R2"), 2);
    m_figure->setAccessibleName(tr("Figure colouring the cells"));
    m_receiver->setAccessibleName(tr("Receiver of the cells"));
    m_frequency->setAccessibleName(tr("Frequency of the cells"));
    // Why there are no channel numbers, where one would look for them.
    m_frequency->setToolTip(tr("A coverage map keeps frequencies: channel numbers depend on the band of each log, "
                               "which the map does not keep."));
    m_cell->setAccessibleName(tr("Figures of the clicked cell"));
    m_cell->setReadOnly(true);
    m_cell->setPlaceholderText(tr("Click a cell to see its figures for each frequency."));

    auto* form = new QFormLayout;
    form->addRow(tr("&Colour by:"), m_figure);
    form->addRow(tr("&Receiver:"), m_receiver);
    form->addRow(tr("&Frequency:"), m_frequency);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_cell, 1);

    for (QComboBox* box : {m_figure, m_receiver, m_frequency})
        connect(box, &QComboBox::currentIndexChanged, this, &CoveragePanel::choiceChanged);
}

QString CoveragePanel::itemText(const CoverageLayer::FrequencySummary& f)
{
    return f.cells == 1 ? tr("%1 MHz: %2 samples, 1 cell").arg(f.mhz, 0, 'f', 4).arg(f.samples)
                        : tr("%1 MHz: %2 samples, %3 cells").arg(f.mhz, 0, 'f', 4).arg(f.samples).arg(f.cells);
}

void CoveragePanel::setFrequencies(const std::vector<CoverageLayer::FrequencySummary>& frequencies)
{
    const QSignalBlocker block(m_frequency);
    m_frequency->clear();
    m_frequency->addItem(tr("All (strongest)"), 0.0);
    for (const CoverageLayer::FrequencySummary& f : frequencies)
        m_frequency->addItem(itemText(f), f.mhz);
    m_figure->setCurrentIndex(0);
    m_receiver->setCurrentIndex(0);
    m_cell->clear();
}

void CoveragePanel::refreshFrequencies(const std::vector<CoverageLayer::FrequencySummary>& frequencies)
{
    if (m_frequency->count() == int(frequencies.size()) + 1) {
        // The same frequencies, with more samples: only the words change.
        for (size_t i = 0; i < frequencies.size(); ++i)
            m_frequency->setItemText(int(i) + 1, itemText(frequencies[i]));
        return;
    }
    const double chosen = m_frequency->currentData().toDouble();
    const int figure = m_figure->currentIndex(), receiver = m_receiver->currentIndex();
    const QString cell = m_cell->toPlainText();
    {
        const QSignalBlocker block(this);
        setFrequencies(frequencies);
        m_figure->setCurrentIndex(figure);
        m_receiver->setCurrentIndex(receiver);
        m_cell->setPlainText(cell);
    }
    const QSignalBlocker block(m_frequency);
    m_frequency->setCurrentIndex(std::max(0, m_frequency->findData(chosen)));
}

void CoveragePanel::applyTo(CoverageLayer& layer) const
{
    layer.setFigure(CoverageLayer::Figure(m_figure->currentData().toInt()));
    layer.setReceiver(m_receiver->currentData().toInt());
    layer.setFrequency(m_frequency->currentData().toDouble());
}

void CoveragePanel::showCell(const QString& figures)
{
    m_cell->setPlainText(figures.isEmpty() ? tr("Not driven.") : figures);
}
