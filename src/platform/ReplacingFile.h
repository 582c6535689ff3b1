#pragma once

#include <cstdio>
#include <string>

// An output file that replaces its target only once it is complete: it is
// written under a temporary name in the target's folder and renamed over the
// target by commit(), so a full disk or a crash never leaves a cut file where
// the user expects a whole one, and never costs the file that was there.
// Without commit() (a failure, an early return) the temporary file is removed.
//
// A target that exists and is not a regular file (a terminal, /dev/null, a
// FIFO) cannot be replaced by a rename and is written in place. A symbolic
// link is followed: the file it names is replaced, the link stays.
class ReplacingFile
{
public:
    explicit ReplacingFile(std::string target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False with a reason when the file cannot be created.
    bool open(std::string& error);
    std::FILE* stream() const { return m_stream; }
    // Flushes, syncs and closes the file, then renames it over the target.
    // False with a reason when any step failed; the target is then as it was.
    bool commit(std::string& error);
    // Gives the file up: the target is left as it was.
    void discard();

    const std::string& target() const { return m_target; }
    // The name written to until commit(); empty when writing in place.
    const std::string& temporaryPath() const { return m_temporary; }

private:
    std::string m_target;
    std::string m_destination; // m_target with symbolic links resolved
    std::string m_temporary;
    std::FILE* m_stream = nullptr;
};
