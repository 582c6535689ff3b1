#pragma once

#include "gps/MapBlockReader.h"

#include <QObject>
#include <QTimer>

#include <optional>
#include <string>

// Prints one line per map point, woken by the announcement signal or, with
// a poll period, by a timer that looks for a changed block.
class MapWatcher : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString blockName = QStringLiteral("ZKTPELLORN");
        int pollMs = 0;   // 0: wait for the signal
        int count = 0;    // 0: run until stopped
        int timeoutMs = 0; // 0: none
        bool json = false;
    };

    explicit MapWatcher(const Options& options);

    // Subscribes or starts polling; false (with a message) when impossible.
    bool start();

public slots:
    void onUpdate();

private slots:
    void onPoll();

private:
    void printIfNew();
    void print(const MapBlockReader::Point& point);

    Options m_options;
    MapBlockReader m_reader;
    QTimer m_pollTimer;
    std::optional<MapBlockReader::Point> m_last;
    std::string m_problemTold; // said once, until the block changes its mind
    int m_printed = 0;
};
