// Helper for the crash test: logs numbered packets through TLog_Router until
// it is killed, and after each record reaches the file prints the number of
// records written so far on stdout (one line each, unbuffered).

#include "log/LogTestUtil.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: log-crash-writer FILE\n");
        return 3;
    }
    DeviceRecord device;
    TLog_Router writer(argv[1], device);
    uint64_t reported = 0;
    for (uint32_t seq = 0;; ++seq) {
        const auto record = makeSequenced(uint8_t(seq % 10), seq, 17 + (seq % 8) * 20);
        writer.PostRecord(record.data(), int(record.size()));
        const uint64_t written = writer.writtenCount();
        if (written != reported) {
            reported = written;
            const std::string line = std::to_string(written) + "\n";
            if (::write(STDOUT_FILENO, line.data(), line.size()) < 0)
                return 1;
        }
        if (seq % 64 == 0)
            std::this_thread::yield();
    }
}
