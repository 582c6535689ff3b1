#pragma once

#include <QString>

#include <functional>

// The folder the program works in, where a log named without a folder goes.
// A folder the user started it in on purpose (a terminal's, a script's) is
// kept; the home folder a desktop menu starts it in gives way to the folder
// where the user last chose a log file; a folder the user may not write to
// (the documentation folder an older desktop entry started it in) gives way
// to that folder or to the home folder.
class StartFolder
{
public:
    static QString choose(const QString& current, const QString& remembered, const QString& home,
                          const std::function<bool(const QString&)>& writable = &isWritableFolder);

    static bool isWritableFolder(const QString& path);

    // Where the remembered folder is kept between runs.
    static constexpr char kSettingsKey[] = "logFolder";
};
