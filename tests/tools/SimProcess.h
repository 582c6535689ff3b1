#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs the real tavrix-sim binary (or another of the tools) for tests: stdin
// and stdout on pipes, stderr into a file that the test can read back (each
// start adds to it).
//
// A plain fork and exec: QProcess starts its child with a vfork-style clone
// that shares the caller's memory, and ThreadSanitizer, seeing the child's
// library calls as the caller's, then loses track of that thread's locks.
class SimProcess
{
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static std::string binary();
    bool start(const std::vector<std::string>& args);
    // Any other executable; a process still running from an earlier start
    // is stopped first.
    bool start(const std::string& exe, const std::vector<std::string>& args);
    // Ends the process (SIGTERM, SIGKILL after 5 s) and closes its pipes.
    void stop();
    // With timeoutMs 0: a line already written, without waiting for more.
    std::optional<std::string> readLine(int timeoutMs);
    bool sendLine(const std::string& line);
    // The exit code, or -1 if the process is still running after timeoutMs.
    int wait(int timeoutMs);
    void terminate();
    std::string stderrText() const;
    // A temporary folder of this process, removed with it.
    const std::string& dir() const { return m_dir; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_exitCode = -1;
    std::string m_dir;
    std::string m_pending;
};

// A number from the stats summary, -1 when the key is absent.
long statNumber(const std::string& json, const std::string& key);
std::string statText(const std::string& json, const std::string& key);
std::string readFile(const std::string& path);
// Polls cond every few milliseconds until it holds or timeoutMs passes.
bool waitFor(const std::function<bool()>& cond, int timeoutMs);
