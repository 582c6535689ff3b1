#include "DriveIndexLoader.h"

DriveIndexLoader::DriveIndexLoader(QObject* parent)
    : QObject(parent)
{
}

DriveIndexLoader::~DriveIndexLoader() = default;

void DriveIndexLoader::start(const QString& path)
{
    m_run.stop();
    m_run.join();
    {
        std::lock_guard lock(m_run.resultMutex());
        m_index.reset();
        m_error.clear();
    }
    // A build replaced by a newer one still finishes, but says nothing.
    m_run.start(this, [this, path](const BackgroundRun::Control& control) {
        auto index = std::make_shared<DriveIndex>();
        const bool built = index->build(path.toStdString(), [&control](uint64_t done, uint64_t total) {
            control.progress = total ? double(done) / double(total) : 0.0;
            return !control.stopped();
        });
        std::lock_guard lock(m_run.resultMutex());
        if (built)
            m_index = std::move(index);
        else
            m_error = QString::fromStdString(index->summary().error);
    }, [this] { emit finished(); });
}

std::shared_ptr<const DriveIndex> DriveIndexLoader::takeIndex()
{
    m_run.join();
    std::lock_guard lock(m_run.resultMutex());
    return std::move(m_index);
}

QString DriveIndexLoader::error() const
{
    std::lock_guard lock(m_run.resultMutex());
    return m_error;
}
