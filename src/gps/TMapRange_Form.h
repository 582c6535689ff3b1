#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TMapRange_Form;
}
class MapExport;
class QLabel;
class QLineEdit;
class QRadioButton;

// The map range dialog: which receiver feeds the map, and the RSSI range
// over which the mapping application spreads its colours. Its controls are
// the settings, in force as soon as they change, OK or not, except a range
// that is not whole dBm from -150 to 0 with the minimum below the maximum:
// that one is refused in the dialog and the values in force are kept. The
// map export runs on the GPS thread, so every change is mirrored into the
// MapExport given to attach().
class TMapRange_Form : public QDialog
{
    Q_OBJECT
public:
    static constexpr char kRangeError[] = "Use Whole Numbers -150 To 0, Min Below Max!!!";

    explicit TMapRange_Form(QWidget* parent = nullptr);
    ~TMapRange_Form() override;

    void attach(MapExport* map);

    QRadioButton* UseR1() const;
    QRadioButton* UseR2() const;
    QLineEdit* edRSSIMax() const;
    QLineEdit* edRSSIMin() const;

public slots:
    void MapClick();   // shows the dialog, not modal
    void OKBtnClick(); // hides it

private:
    void mirror();

    std::unique_ptr<Ui::TMapRange_Form> ui;
    MapExport* m_map = nullptr;
    QLabel* m_rangeError = nullptr;
    bool m_placed = false;
};
