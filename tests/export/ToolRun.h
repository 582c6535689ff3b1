#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

// The tools as a user runs them: a shell command line, its standard output
// and exit status.
inline std::string tool(const char* name)
{
    const char* dir = std::getenv("TAVRIX_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

struct Ran
{
    int status = -1;
    std::string out;
};

inline Ran run(const std::string& command)
{
    Ran r;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
        r.out.append(chunk, n);
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
