#include "SimProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

SimProcess::SimProcess()
{
    char pattern[] = "/tmp/tavrix-sim-test-XXXXXX";
    if (mkdtemp(pattern))
        m_dir = pattern;
}

SimProcess::~SimProcess()
{
    stop();
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

std::string SimProcess::binary()
{
    const char* dir = std::getenv("TAVRIX_BIN_DIR");
    return std::string(dir ? dir : ".") + "/tavrix-sim";
}

void SimProcess::stop()
{
    if (m_pid > 0 && wait(0) < 0) {
        terminate();
        if (wait(5000) < 0) {
            ::kill(m_pid, SIGKILL);
            wait(5000);
        }
    }
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_stdout >= 0)
        ::close(m_stdout);
    m_stdin = m_stdout = -1;
    m_pending.clear();
}

bool SimProcess::start(const std::vector<std::string>& args)
{
    return start(binary(), args);
}

bool SimProcess::start(const std::string& exe, const std::vector<std::string>& args)
{
    stop();
    m_exitCode = -1;
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return false;
    const std::string errPath = m_dir + "/stderr.txt";
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid == 0) {
        // A test killed by its time-out must not leave its emulator behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    ::fcntl(m_stdout, F_SETFL, O_NONBLOCK);
    return m_pid > 0;
}

std::optional<std::string> SimProcess::readLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const auto nl = m_pending.find('\n'); nl != std::string::npos) {
            std::string line = m_pending.substr(0, nl);
            m_pending.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_stdout, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::max<long>(left.count(), 0)));
        if (ready > 0) {
            char buf[256];
            const ssize_t n = ::read(m_stdout, buf, sizeof buf);
            if (n == 0)
                return std::nullopt;
            if (n > 0) {
                m_pending.append(buf, std::size_t(n));
                continue;
            }
        }
        if (left.count() <= 0)
            return std::nullopt;
    }
}

bool SimProcess::sendLine(const std::string& line)
{
    const std::string text = line + "\n";
    return ::write(m_stdin, text.data(), text.size()) == ssize_t(text.size());
}

int SimProcess::wait(int timeoutMs)
{
    if (m_pid <= 0)
        return m_exitCode;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_exitCode;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SimProcess::terminate()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
}

std::string SimProcess::stderrText() const
{
    return readFile(m_dir + "/stderr.txt");
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long statNumber(const std::string& json, const std::string& key)
{
    std::smatch m;
    if (std::regex_search(json, m, std::regex("\"" + key + "\": (\\d+)")))
        return std::stol(m[1]);
    return -1;
}

std::string statText(const std::string& json, const std::string& key)
{
    std::smatch m;
    if (std::regex_search(json, m, std::regex("\"" + key + "\": \"([^\"]*)\"")))
        return m[1];
    return {};
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
