#include "ScanHistoryControls.h"

#include "TMain_Form.h"
#include "ui_TMain_Form.h"

#include "display/ScanHistory.h"
#include "display/ScanHistoryWindow.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QToolButton>

namespace {

// A few rows of colour from the palette's ends, newest on top.
QIcon waterfallIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const QColor rows[] = {QColor(0, 0, 255), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 0, 0),
                           QColor(0, 255, 255), QColor(0, 0, 255)};
    for (int k = 0; k < 6; ++k) {
        p.fillRect(1, 1 + 2 * k, 14, 2, rows[k]);
        p.fillRect(5 + (k % 3), 1 + 2 * k, 3, 2, QColor(255, 160, 0));
    }
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.drawRect(0, 0, 15, 13);
    return QIcon(pixmap);
}

} // namespace

ScanHistoryControls::ScanHistoryControls(TMain_Form& form)
    : QObject(&form)
    , m_form(form)
{
    Ui::TMain_Form& ui = form.form();
    m_menu = new QMenu(QStringLiteral("&History"), ui.MainMenu);
    m_menu->setObjectName(QStringLiteral("History1"));
    ui.MainMenu->insertMenu(ui.Help1->menuAction(), m_menu);
    for (int r = 0; r < kReceivers; ++r) {
        m_histories[std::size_t(r)] = std::make_unique<ScanHistory>();
        QAction* action = m_menu->addAction(QStringLiteral("Scan History R&%1").arg(r + 1));
        action->setObjectName(QStringLiteral("ScanHistory%1").arg(r + 1));
        connect(action, &QAction::triggered, this, [this, r] { open(r); });
        m_actions[std::size_t(r)] = action;
    }

    // In the gap of the tool bar after the screen buttons.
    m_button = new QToolButton(ui.pnlScroll);
    m_button->setObjectName(QStringLiteral("btnScanHistory"));
    m_button->setGeometry(283, 2, 36, 25);
    m_button->setIcon(waterfallIcon());
    m_button->setToolTip(QStringLiteral("Scan History"));
    m_button->setAccessibleName(QStringLiteral("Scan History"));
    m_button->setMenu(m_menu);
    m_button->setPopupMode(QToolButton::InstantPopup);
    m_button->show();

    connect(ui.sbFrequency, &QAbstractButton::toggled, this, [this](bool frequency) {
        for (auto& w : m_windows)
            if (w)
                w->setShowFrequency(frequency);
    });
    form.installEventFilter(this);
}

ScanHistoryControls::~ScanHistoryControls() = default;

ScanHistoryWindow* ScanHistoryControls::open(int r)
{
    QPointer<ScanHistoryWindow>& w = m_windows[std::size_t(r)];
    if (!w) {
        // A window of the main form's: it goes with it.
        w = new ScanHistoryWindow(r, *m_histories[std::size_t(r)], &m_form);
        w->setShowFrequency(m_form.form().sbFrequency->isChecked());
    }
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

void ScanHistoryControls::addReports(int r, const std::vector<SampleReport>& reports, const ReceiverSettings& now)
{
    ScanHistory& history = *m_histories[std::size_t(r)];
    for (const SampleReport& report : reports)
        history.add(report, now);
    // A hidden window draws nothing; it draws everything when shown.
    if (ScanHistoryWindow* w = m_windows[std::size_t(r)]; w && w->isVisible())
        w->rowsAdded();
}

bool ScanHistoryControls::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_form && event->type() == QEvent::Close) {
        for (auto& w : m_windows)
            if (w)
                w->close();
    }
    return QObject::eventFilter(watched, event);
}
