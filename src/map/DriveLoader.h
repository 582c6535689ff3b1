#pragma once

#include "PointLayer.h"
#include "protocol/RssiPalette.h"
#include "drive/DriveSummary.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <optional>
#include <vector>

// Reads a recorded drive into dots off the window thread, so the window keeps
// drawing and shows progress. One receiver at a time; either one measure
// (a channel, or a frequency where the receiver gave no channel numbers),
// every sample a dot, or by default the strongest sample between two fixes,
// drawn where it was taken: one dot per GPS message, as the live map gets
// from the logger, instead of dozens piled on each other.
class DriveLoader : public QObject
{
    Q_OBJECT
public:
    struct Measure
    {
        int channel = 0;          // 0: not numbered, the frequency identifies it
        double frequencyMHz = 0;
        bool operator<(const Measure& o) const;
    };

    struct Choice
    {
        int receiver = 0;                 // 0 (R1) or 1 (R2)
        std::optional<Measure> measure;   // none: the strongest between two fixes
    };

    struct Result
    {
        DriveSummary summary;
        PointLayer layer;
        std::vector<Measure> measures; // of the chosen receiver, in order
        bool cancelled = false;
    };

    explicit DriveLoader(QObject* parent = nullptr);
    ~DriveLoader() override; // cancels and waits for a running read

    // Runs in the caller's thread; `progress` returning false cancels.
    static Result load(const QString& path, const Choice& choice, const RssiPalette& palette,
                       const std::function<bool(double)>& progress = {});

    // A read still running is dropped: it says nothing.
    void start(const QString& path, const Choice& choice, const RssiPalette& palette);
    // Stops the running read, which then finishes as cancelled.
    void cancel();
    bool running() const { return m_read != nullptr; }
    double progress() const { return m_progress; } // 0 to 1
    Result takeResult() { return std::move(m_result); }

signals:
    void progressChanged(double done); // 0 to 1
    void finished();

private:
    void read();

    Result m_result;
    double m_progress = 0;
    QFutureWatcher<Result>* m_read = nullptr; // the running read's; a new one for each
    QThreadPool m_pool; // one thread: waits for a cancelled read before it goes
};
