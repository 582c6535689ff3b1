#include "TCom_Form.h"

#include "AppStyle.h"
#include "FieldFont.h"
#include "LinkStarter.h"
#include "PortSelection.h"
#include "link/LinkSettings.h"
#include "ui_TCom_Form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QAbstractItemView>
#include <QDir>
#include <QLineEdit>

#include <algorithm>

TCom_Form::TCom_Form(LinkStarter& starter, QWidget* mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowStaysOnTopHint)
    , ui(std::make_unique<Ui::TCom_Form>())
    , m_starter(starter)
    , m_mainWindow(mainWindow)
{
    ui->setupUi(this);
    setFont(AppStyle::formFont());
    setFixedSize(313, 216);
    ui->PortChoice->addItems(serialDevices());
    // Long device paths differ at their end: the field keeps the text whole
    // as far as a readable font allows, and the list is as wide as its
    // longest path (and cuts at the left rather than the tail if need be).
    if (QLineEdit* edit = ui->PortChoice->lineEdit())
        FieldFont::follow(edit);
    ui->PortChoice->view()->setTextElideMode(Qt::ElideLeft);
    fitListWidth();
    connect(ui->PortChoice->model(), &QAbstractItemModel::rowsInserted, this, &TCom_Form::fitListWidth);
    connect(ui->OKBtn, &QPushButton::clicked, this, &TCom_Form::OKBtnClick);
    FormCreate();
    AppStyle::centreOnScreen(this);
}

TCom_Form::~TCom_Form() = default;

void TCom_Form::fitListWidth()
{
    int widest = 0;
    for (int i = 0; i < ui->PortChoice->count(); ++i)
        widest = std::max(widest, ui->PortChoice->view()->fontMetrics().horizontalAdvance(ui->PortChoice->itemText(i)));
    // Room for the frame, the item margins and a scroll bar.
    ui->PortChoice->view()->setMinimumWidth(widest + 32);
}

QComboBox* TCom_Form::portChoice() const
{
    return ui->PortChoice;
}

void TCom_Form::FormCreate()
{
    ui->PortChoice->setCurrentIndex(0);
    ui->OKBtn->setFocus();
}

QStringList TCom_Form::serialDevices()
{
    QStringList devices;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& f : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        devices << f.absoluteFilePath();
    const QDir dev(QStringLiteral("/dev"));
    const QStringList ttys = dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                           QDir::System | QDir::Files, QDir::Name);
    for (const QString& t : ttys)
        devices << dev.absoluteFilePath(t);
    return devices;
}

// The combo box is editable so that any serial device can be typed in; the
// text decides, not the index, so a typed path is never mistaken for an item.
void TCom_Form::OKBtnClick()
{
    if (m_confirmed)
        return;
    m_confirmed = true;
    PortSelection::fromText(ui->PortChoice->currentText().trimmed().toStdString()).apply(m_starter.linkSettings());
    m_starter.start();
    if (m_mainWindow)
        m_mainWindow->showNormal();
    hide();
}

// Escape does not dismiss the dialog: the program cannot run without a link
// choice.
void TCom_Form::reject()
{
}

// No close box is offered; a window manager that closes the dialog anyway
// ends the program rather than leaving it running with no window.
void TCom_Form::closeEvent(QCloseEvent* event)
{
    if (m_confirmed) {
        event->accept();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}
