#pragma once

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A tool run as a user runs it: a child process, wall clock, and its CPU
// time and peak resident memory from the kernel.
namespace ChildRun {

// False if it failed. Its wall time, CPU time and peak resident memory go
// into the maxima given.
inline bool run(const char* program, const std::vector<std::string>& args, double& seconds, double& cpu,
                double& peakMB)
{
    timespec t0{}, t1{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stderr) || !std::freopen("/dev/null", "w", stdout))
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    seconds = std::max(seconds, double(t1.tv_sec - t0.tv_sec) + double(t1.tv_nsec - t0.tv_nsec) * 1e-9);
    peakMB = std::max(peakMB, double(usage.ru_maxrss) / 1024.0);
    cpu = std::max(cpu, double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6);
    return true;
}

} // namespace ChildRun
