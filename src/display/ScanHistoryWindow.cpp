#include "ScanHistoryWindow.h"

#include "display/HoldTraceView.h"
#include "display/PaletteLegend.h"
#include "display/ScanHistory.h"
#include "display/WaterfallView.h"

#include "platform/ReplacingFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPromise>
#include <QScrollBar>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <ostream>
#include <streambuf>

namespace {

constexpr int kCaptionMargin = 6; // px around the PNG's caption line

// An ostream's buffer over a C stream, so the history's CSV goes straight
// into the file that replaces the target.
class FileBuffer : public std::streambuf
{
public:
    explicit FileBuffer(std::FILE* file) : m_file(file) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        return std::fputc(c, m_file) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        return std::streamsize(std::fwrite(s, 1, size_t(n), m_file));
    }

private:
    std::FILE* m_file;
};

// Writes what fill puts out into path, replacing it only whole; empty when
// done, else the reason.
template <typename Fill>
QString writeReplacing(const QString& path, Fill fill)
{
    ReplacingFile file(QFile::encodeName(path).toStdString());
    std::string error;
    if (!file.open(error))
        return QString::fromStdString(error);
    fill(file.stream());
    if (!file.commit(error))
        return QString::fromStdString(error);
    return {};
}

QString writeCsvFile(const ScanHistory& history, const QString& path)
{
    return writeReplacing(path, [&history](std::FILE* f) {
        FileBuffer buffer(f);
        std::ostream out(&buffer);
        history.writeCsv(out);
    });
}

} // namespace

ScanHistoryWindow::ScanHistoryWindow(int receiver, ScanHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_receiver(receiver)
    , m_history(history)
{
    setObjectName(QStringLiteral("ScanHistory%1").arg(receiver + 1));
    setWindowTitle(QStringLiteral("Scan History - R%1").arg(receiver + 1));
    setAccessibleName(windowTitle());

    auto* buttons = new QHBoxLayout;
    auto button = [&](const QString& text, const QString& accessible, auto slot) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(accessible);
        b->setAccessibleName(accessible);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(b, &QToolButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    button(QStringLiteral("Reset"), QStringLiteral("Reset holds"), &ScanHistoryWindow::resetHolds);
    button(QStringLiteral("Save PNG..."), QStringLiteral("Export picture as PNG"), &ScanHistoryWindow::exportPngClick);
    m_csvButton = button(QStringLiteral("Save CSV..."), QStringLiteral("Export history as CSV"),
                         &ScanHistoryWindow::exportCsvClick);
    buttons->addStretch();

    // What the PNG shows: holds, waterfall and key, without the buttons.
    m_picture = new QWidget(this);
    m_traces = new HoldTraceView(history, m_picture);
    m_traces->setAccessibleName(QStringLiteral("Max, min and average holds"));
    m_waterfall = new WaterfallView(history, m_picture);
    m_waterfall->setAccessibleName(QStringLiteral("Waterfall"));
    auto* legend = new PaletteLegend(WaterfallView::kBottomDbm, WaterfallView::kTopDbm, m_picture);
    legend->setAccessibleName(QStringLiteral("Colour key"));
    auto* pictureLayout = new QVBoxLayout(m_picture);
    pictureLayout->setContentsMargins(0, 0, 0, 0);
    pictureLayout->setSpacing(0);
    pictureLayout->addWidget(m_traces);
    pictureLayout->addWidget(m_waterfall, 1);
    pictureLayout->addWidget(legend);

    m_scroll = new QScrollBar(Qt::Vertical, this);
    m_scroll->setAccessibleName(QStringLiteral("Scroll back in time"));
    m_scroll->setInvertedAppearance(false);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_syncing)
            m_waterfall->setScrollBack(value);
    });
    connect(m_waterfall, &WaterfallView::scrollRangeChanged, this, &ScanHistoryWindow::syncScrollBar);

    m_readout = new QLabel(this);
    m_readout->setAccessibleName(QStringLiteral("Pointed cell"));
    m_readout->setMinimumHeight(18);
    connect(m_waterfall, &WaterfallView::pointed, m_readout, &QLabel::setText);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(m_picture, 1);
    middle->addWidget(m_scroll);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(middle, 1);
    layout->addWidget(m_readout);
    resize(720, 640);
}

void ScanHistoryWindow::rowsAdded()
{
    m_waterfall->rowsAdded();
    m_traces->holdsChanged();
}

// Hidden, it was told nothing: it catches up in one go.
void ScanHistoryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_waterfall->rebuild();
    m_traces->update();
}

void ScanHistoryWindow::setShowFrequency(bool frequency)
{
    m_traces->setShowFrequency(frequency);
}

void ScanHistoryWindow::resetHolds()
{
    m_history.resetHolds();
    m_traces->update();
}

void ScanHistoryWindow::syncScrollBar()
{
    // The bar's top is now; down goes back in time. Following new rows, the
    // thumb only shrinks as the history grows: redrawn when that shows, not
    // for every row, as the bar costs a paint of its own.
    const int maximum = m_waterfall->maxScrollBack();
    if (m_waterfall->scrollBack() == 0 && m_scroll->value() == 0 && maximum >= m_scroll->maximum()
        && maximum - m_scroll->maximum() < std::max(m_waterfall->visibleRows(), maximum / 100))
        return;
    m_syncing = true;
    m_scroll->setRange(0, m_waterfall->maxScrollBack());
    m_scroll->setPageStep(m_waterfall->visibleRows());
    m_scroll->setValue(m_waterfall->scrollBack());
    m_syncing = false;
}

QImage ScanHistoryWindow::picture(const QDateTime& savedAt) const
{
    const QPixmap shown = m_picture->grab();
    const qreal ratio = shown.devicePixelRatio();
    const QString when = savedAt.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
    const QString title = windowTitle() + QStringLiteral(" (receiver R%1), %2").arg(m_receiver + 1).arg(when);
    const QFontMetrics metrics(font());
    const int caption = metrics.height() + 2 * kCaptionMargin; // device-independent px
    QImage image(shown.width(), shown.height() + qRound(caption * ratio), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(palette().color(QPalette::Window));
    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const int width = qRound(shown.width() / ratio);
    painter.drawText(QRect(kCaptionMargin, 0, width - 2 * kCaptionMargin, caption), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    painter.drawPixmap(0, caption, shown);
    painter.end();
    image.setText(QStringLiteral("Title"), title);
    image.setText(QStringLiteral("Creation Time"), savedAt.toUTC().toString(Qt::ISODate));
    image.setText(QStringLiteral("Software"), QStringLiteral("Tavrix Data Logger"));
    return image;
}

bool ScanHistoryWindow::exportPng(const QString& path, QString& error) const
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture(QDateTime::currentDateTimeUtc()).save(&buffer, "PNG")) {
        error = QStringLiteral("the picture could not be made into a PNG");
        return false;
    }
    error = writeReplacing(path, [&png](std::FILE* f) { std::fwrite(png.constData(), 1, size_t(png.size()), f); });
    return error.isEmpty();
}

bool ScanHistoryWindow::exportCsv(const QString& path, QString& error) const
{
    error = writeCsvFile(m_history, path);
    return error.isEmpty();
}

QFuture<QString> ScanHistoryWindow::exportCsvInBackground(const QString& path) const
{
    // Reports keep coming on this thread: the worker writes a copy (at most
    // some 10 MiB, copied in milliseconds).
    auto snapshot = std::make_shared<const ScanHistory>(m_history);
    auto promise = std::make_shared<QPromise<QString>>();
    QFuture<QString> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([snapshot, promise, path] {
        promise->addResult(writeCsvFile(*snapshot, path));
        promise->finish();
    });
    return future;
}

QString ScanHistoryWindow::suggestedPath(const QString& suffix) const
{
    return QDir::current().absoluteFilePath(QStringLiteral("scan-history-r%1.%2").arg(m_receiver + 1).arg(suffix));
}

void ScanHistoryWindow::exportPngClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Picture"),
                                                      suggestedPath(QStringLiteral("png")),
                                                      QStringLiteral("PNG images (*.png)"));
    QString error;
    if (!path.isEmpty() && !exportPng(path, error))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Could Not Write %1!!\n%2").arg(path, error));
}

void ScanHistoryWindow::exportCsvClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export History"),
                                                      suggestedPath(QStringLiteral("csv")),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    // Owned by the window: closed meanwhile, nobody is told, and the file is still written.
    auto* watcher = new QFutureWatcher<QString>(this);
    m_csvButton->setEnabled(false);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        const QString error = watcher->result();
        watcher->deleteLater();
        m_csvButton->setEnabled(true);
        if (!error.isEmpty())
            QMessageBox::warning(this, windowTitle(), QStringLiteral("Could Not Write %1!!\n%2").arg(path, error));
    });
    watcher->setFuture(exportCsvInBackground(path));
}
