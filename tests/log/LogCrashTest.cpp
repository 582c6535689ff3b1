#include "log/KlfRecordList.h"
#include "log/LogTestUtil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Runs the helper until it has reported at least `target` records written
// (0: kill it at once), kills it with SIGKILL, and returns the highest record
// count it reported before it died. The kill lands wherever the writer is by
// then, so the moments vary with the target without the test waiting on a clock.
uint64_t runAndKill(const std::string& helper, const std::string& file, uint64_t target)
{
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* args[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(file.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, helper.c_str(), &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return 0;
    }

    std::string out;
    uint64_t reported = 0;
    // Only whole lines count: a line cut by the kill was not fully reported.
    auto takeLines = [&] {
        size_t start = 0;
        for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
            reported = std::max<uint64_t>(reported, std::stoull(out.substr(start, end - start)));
        out.erase(0, start);
    };
    auto drain = [&](int timeoutMs) {
        pollfd p{fds[0], POLLIN, 0};
        char buffer[4096];
        while (poll(&p, 1, timeoutMs) > 0) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                return false;
            out.append(buffer, size_t(n));
            timeoutMs = 0;
        }
        takeLines();
        return true;
    };
    // A safety net only: a healthy helper reaches any target here in well under a second.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (reported < target && std::chrono::steady_clock::now() < limit)
        if (!drain(100))
            break;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    drain(0);
    close(fds[0]);
    return reported;
}

} // namespace

TEST(LogCrash, killedWriterLeavesWholeRecordsAndLosesNothingReported)
{
    const char* bin = std::getenv("LOG_CRASH_WRITER");
    const std::string helper = bin ? bin : LOG_CRASH_WRITER_PATH;
    ASSERT_EQ(access(helper.c_str(), X_OK), 0) << helper;
    QTemporaryDir dir;
    std::mt19937 random(20240611);
    // Every tenth run is killed as it starts, before it may have written anything.
    std::uniform_int_distribution<uint64_t> targets(1, 3000);

    int partialRecords = 0;
    uint64_t totalRecords = 0;
    uint64_t totalReported = 0;
    constexpr int kRuns = 60;
    for (int run = 0; run < kRuns; ++run) {
        const std::string file = (dir.path() + "/crash" + QString::number(run) + ".KLF").toStdString();
        const uint64_t target = run % 10 == 0 ? 0 : targets(random);
        const uint64_t reported = runAndKill(helper, file, target);
        ASSERT_GE(reported, target) << file << ": the helper stopped reporting writes";
        totalReported += reported;
        const auto data = readFile(file);
        if (data.empty())
            continue; // killed before the header was written: nothing was reported either
        KlfRecordList reader(data);
        ASSERT_NE(reader.status(), KlfRecordList::Status::Malformed) << file << ": " << reader.error();
        if (reader.status() == KlfRecordList::Status::Truncated)
            ++partialRecords;
        ASSERT_TRUE(reader.hasHeader()) << file;
        const auto& records = reader.records();
        ASSERT_GE(records.size(), reported) << file << ": a record reported as written is missing";
        for (size_t i = 0; i < records.size(); ++i)
            ASSERT_EQ(sequenceOf(reader.payload(records[i]).data()), i) << file << " record " << i;
        totalRecords += records.size();
    }
    // Whole-record writes make a cut record rare; it is allowed, never more than
    // one per file (the reader stops at the first).
    RecordProperty("partialRecords", partialRecords);
    RecordProperty("records", int(totalRecords));
    EXPECT_GT(totalReported, 0u) << "the helper never got to report a write";
}
