#include "StartFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

QString StartFolder::choose(const QString& current, const QString& remembered, const QString& home,
                            const std::function<bool(const QString&)>& writable)
{
    const bool atHome = QDir(current) == QDir(home);
    if (!atHome && writable(current))
        return current;
    if (!remembered.isEmpty() && writable(remembered))
        return remembered;
    if (writable(current))
        return current;
    if (writable(home))
        return home;
    return current; // nowhere better: the error will name the folder
}

bool StartFolder::isWritableFolder(const QString& path)
{
    // access() asks the kernel, which knows read-only mounts and ACLs too.
    return !path.isEmpty() && QFileInfo(path).isDir()
        && ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}
