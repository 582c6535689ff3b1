#include "DriveIndexLoader.h"

#include <QtConcurrent/QtConcurrentRun>

namespace {
constexpr int kSteps = 1000; // of the progress
}

DriveIndexLoader::DriveIndexLoader(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

DriveIndexLoader::~DriveIndexLoader()
{
    cancel();
}

void DriveIndexLoader::cancel()
{
    if (!m_build)
        return;
    m_build->cancel();
    // Its signals still queued reach nobody.
    m_build->disconnect(this);
    std::exchange(m_build, nullptr)->deleteLater();
}

void DriveIndexLoader::start(const QString& path)
{
    cancel();
    m_index.reset();
    m_error.clear();
    m_progress = 0;
    m_build = new QFutureWatcher<Built>(this);
    connect(m_build, &QFutureWatcher<Built>::progressValueChanged, this, [this](int value) {
        m_progress = double(value) / kSteps;
        emit progressChanged(m_progress);
    });
    connect(m_build, &QFutureWatcher<Built>::finished, this, &DriveIndexLoader::built);
    m_build->setFuture(QtConcurrent::run(&m_pool, [path](QPromise<Built>& promise) {
        promise.setProgressRange(0, kSteps);
        auto index = std::make_shared<DriveIndex>();
        const bool ok = index->build(path.toStdString(), [&promise](uint64_t done, uint64_t total) {
            if (total)
                promise.setProgressValue(int(done * kSteps / total));
            return !promise.isCanceled();
        });
        promise.addResult(ok ? Built{std::move(index), QString()}
                             : Built{nullptr, QString::fromStdString(index->summary().error)});
    }));
}

void DriveIndexLoader::built()
{
    QFutureWatcher<Built>* build = std::exchange(m_build, nullptr);
    build->deleteLater();
    if (build->isCanceled())
        return;
    Built b = build->future().takeResult();
    m_index = std::move(b.index);
    m_error = std::move(b.error);
    emit finished();
}
