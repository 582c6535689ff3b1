// klf-coverage --follow uploading growing logs into a real PostgreSQL with
// PostGIS while a writer appends to them as the logger does (holding the
// file's flock), killed, stopped and cut off from its server on the way: the
// map ends as one-shot uploads of the finished logs make it.
#include "PgCluster.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace CoverageTest;

namespace {

constexpr auto kSafetyNet = std::chrono::seconds(90); // only when something is wrong

// Waits for done; the limit is a safety net, not a delay.
bool eventually(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + kSafetyNet;
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::yield();
    }
    return true;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A log written as the logger writes it: appended to under an exclusive
// flock held from the start until closed for good.
class LockedWriter
{
public:
    LockedWriter(std::string path, const DriveTestLog& log) : m_path(std::move(path)), m_log(log)
    {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LockedWriter() { close(); }
    bool ok() const { return m_fd >= 0; }
    // The log's bytes up to to, cut wherever to falls.
    void writeTo(size_t to)
    {
        if (to > m_written && m_fd >= 0 && ::write(m_fd, m_log.bytes.data() + m_written, to - m_written) > 0)
            m_written = to;
    }
    size_t written() const { return m_written; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    std::string m_path;
    const DriveTestLog& m_log;
    int m_fd = -1;
    size_t m_written = 0;
};

// klf-coverage --follow as a process of its own, its standard error in a file.
class Uploader
{
public:
    Uploader(std::vector<std::string> args, std::string errFile) : m_args(std::move(args)), m_err(std::move(errFile))
    {
        m_watch = ::inotify_init1(IN_CLOEXEC);
        start();
        if (m_watch >= 0)
            ::inotify_add_watch(m_watch, m_err.c_str(), IN_MODIFY);
    }
    ~Uploader()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_watch >= 0)
            ::close(m_watch);
    }
    void start()
    {
        // Made before the fork: the child only calls what is safe there.
        const std::string program = tool("klf-coverage");
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& a : m_args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int fd = ::open(m_err.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fd);
    }
    void kill()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    void signal(int s) { ::kill(m_pid, s); }
    // The exit status once it has ended by itself; -1 when it did not (killed
    // by the safety net).
    int wait()
    {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::thread safetyNet([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!ended.wait_for(lock, kSafetyNet, [&] { return done; }))
                ::kill(m_pid, SIGKILL);
        });
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        ended.notify_one();
        safetyNet.join();
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string err() const { return readAll(m_err); }
    // Times text appears in standard error.
    size_t count(const std::string& text) const
    {
        const std::string all = err();
        size_t n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }
    // Waits until standard error says text n times, woken by its writes.
    bool says(const std::string& text, size_t n = 1) const
    {
        const auto limit = std::chrono::steady_clock::now() + kSafetyNet;
        while (count(text) < n) {
            if (std::chrono::steady_clock::now() > limit)
                return false;
            pollfd p{m_watch, POLLIN, 0};
            if (::poll(&p, 1, 1000) > 0) {
                alignas(inotify_event) char events[4096];
                (void)!::read(m_watch, events, sizeof events);
            }
        }
        return true;
    }

private:
    std::vector<std::string> m_args;
    std::string m_err;
    pid_t m_pid = -1;
    int m_watch = -1;
};

class CoverageFollow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const std::string why = cluster.start();
        if (!why.empty())
            GTEST_SKIP() << why;
        for (const char* db : {"coverage", "oneshot"}) {
            const Ran made = cluster.sql(std::string("CREATE DATABASE ") + db);
            ASSERT_EQ(made.status, 0) << made.out;
        }
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    std::vector<std::string> followArgs(const std::string& log, const std::string& db = "coverage") const
    {
        return {"--follow", "--every", "0.2", "--db", cluster.gdal(db), log};
    }

    Ran oneShot(const std::string& logs, const std::string& db) const
    {
        return run(tool("klf-coverage") + " --db '" + cluster.gdal(db) + "' " + logs + " 2>&1");
    }

    // How far the map has read a log (0: no row yet).
    uint64_t bytesRead(const std::string& name) const
    {
        const Ran r = cluster.sql("SELECT coalesce(max(bytes_read), 0) FROM drives WHERE file_name = '" + name + "'",
                                  "coverage");
        return r.status == 0 ? std::strtoull(r.out.c_str(), nullptr, 10) : 0;
    }

    // Waits until the map has the log up to its last whole second written.
    bool uploadedTo(const std::string& name, const std::vector<size_t>& ends, size_t written) const
    {
        size_t whole = 0;
        for (size_t e : ends)
            if (e <= written)
                whole = e;
        return eventually([&] { return bytesRead(name) >= whole; });
    }

    // Every cell and drive as the server holds it: histograms, counts,
    // drives, times, geometry.
    std::string cells(const std::string& db) const
    {
        return cluster
            .sql("SELECT row, col, receiver, frequency_mhz, histogram, count, min_dbm, max_dbm, p10_dbm, median_dbm,"
                 " p90_dbm, mean_dbm, drives, first_time, last_time, ST_AsText(geom) FROM cells ORDER BY 1, 2, 3, 4",
                 db)
            .out;
    }
    std::string drives(const std::string& db) const
    {
        return cluster
            .sql("SELECT file_name, sha256, serial_number, first_time, last_time, fixes_used, samples_placed,"
                 " samples_binned, log_id, log_id_bytes, bytes_read, read_sha256 FROM drives ORDER BY file_name",
                 db)
            .out;
    }

    QTemporaryDir dir;
    PgCluster cluster;
};

} // namespace

// Two vehicles' logs followed at once into one map; one uploader is killed
// after uploads committed and again just after a write cut a record in
// half, and restarted; the server is stopped under both and started again.
// The map ends equal to one-shot uploads of the finished logs, histogram
// for histogram, with one drive per log under its whole-file SHA-256, and a
// one-shot run of the same file afterwards adds nothing.
TEST_F(CoverageFollow, KilledRestartedAndCutOffTheUploadsEqualOneShotUploads)
{
    std::vector<size_t> endsA, endsB;
    const DriveTestLog logA = driveLog(81, 52.52, 13.40, 0.0002, 0.0001, 120, &endsA);
    const DriveTestLog logB = driveLog(82, 52.5202, 13.4001, 0.0001, 0.0002, 120, &endsB);
    const std::string a = path("a.KLF"), b = path("b.KLF");
    LockedWriter writerA(a, logA), writerB(b, logB);
    ASSERT_TRUE(writerA.ok() && writerB.ok());
    // Cut points that fall inside records as often as not.
    const auto cut = [](const DriveTestLog& log, int part, int parts) {
        return part == parts ? log.bytes.size() : log.bytes.size() * size_t(part) / size_t(parts) + 37;
    };
    constexpr int kParts = 8;
    writerA.writeTo(cut(logA, 1, kParts));
    writerB.writeTo(cut(logB, 1, kParts));
    Uploader upA(followArgs(a), path("a.err")), upB(followArgs(b), path("b.err"));

    for (int part = 2; part <= kParts; ++part) {
        // Killed once uploads committed, and restarted: it resumes where the map says.
        if (part == 3) {
            ASSERT_TRUE(uploadedTo("a.KLF", endsA, writerA.written())) << upA.err();
            upA.kill();
            upA.start();
        }
        // The server gone while both write on, and back.
        if (part == 5) {
            ASSERT_TRUE(uploadedTo("a.KLF", endsA, writerA.written())) << upA.err();
            ASSERT_TRUE(uploadedTo("b.KLF", endsB, writerB.written())) << upB.err();
            ASSERT_EQ(cluster.stop(), "");
        }
        writerA.writeTo(cut(logA, part, kParts));
        writerB.writeTo(cut(logB, part, kParts));
        if (part == 5) {
            ASSERT_TRUE(upA.says("server unreachable") && upB.says("server unreachable"))
                << upA.err() << upB.err();
            // Still following meanwhile: more comes while it is offline.
            writerA.writeTo(cut(logA, part, kParts) + 500);
            ASSERT_EQ(cluster.resume(), "");
            ASSERT_TRUE(upA.says("server back") && upB.says("server back"))
                << upA.err() << upB.err();
        }
        // Killed just after a write that ends mid-record, whatever it was doing.
        if (part == 6) {
            upB.kill();
            upB.start();
        }
    }
    writerA.close();
    writerB.close();
    EXPECT_EQ(upA.wait(), 0) << upA.err();
    EXPECT_EQ(upB.wait(), 0) << upB.err();
    EXPECT_EQ(upA.count("server unreachable"), 1u) << "said once per outage";

    const Ran once = oneShot("'" + a + "' '" + b + "'", "oneshot");
    ASSERT_EQ(once.status, 0) << once.out;
    const std::string expected = cells("oneshot");
    EXPECT_NE(expected.find("|2|"), std::string::npos) << "the two drives should share cells";
    EXPECT_EQ(cells("coverage"), expected);
    EXPECT_EQ(drives("coverage"), drives("oneshot"));
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "2\n");

    const Ran again = oneShot("'" + a + "'", "coverage");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("already in the map (same SHA-256), skipped"), std::string::npos) << again.out;
    EXPECT_EQ(cells("coverage"), expected);
}

// Stopped with Ctrl-C while the logger goes on: what is whole is sent, the
// drive takes the file's SHA-256 as it then is, and the process exits 0. The
// log grown on afterwards is read on by a one-shot run from where the
// follower stopped, to the same map as one upload of the whole log.
TEST_F(CoverageFollow, StoppedItSendsWhatIsWholeAndAOneShotRunGoesOnFromThere)
{
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(91, 48.85, 2.35, 0.0002, 0.0002, 90, &ends);
    const std::string a = path("a.KLF");
    LockedWriter writer(a, log);
    ASSERT_TRUE(writer.ok());
    writer.writeTo(ends[40] + 11);
    Uploader up({"--follow", "--every", "0.2", "-v", "--max-dop", "4", "--db", cluster.gdal("coverage"), a},
                path("a.err"));
    ASSERT_TRUE(uploadedTo("a.KLF", ends, writer.written())) << up.err();
    writer.writeTo(ends[60] + 3);
    up.signal(SIGINT);
    EXPECT_EQ(up.wait(), 0) << up.err();
    EXPECT_NE(up.err().find("sent bytes"), std::string::npos) << up.err();
    const std::string sha = run("sha256sum '" + a + "' | cut -c1-64").out;
    EXPECT_EQ(cluster.sql("SELECT sha256, bytes_read FROM drives", "coverage").out,
              sha.substr(0, 64) + "|" + std::to_string(ends[60]) + "\n");

    writer.writeTo(log.bytes.size());
    writer.close();
    const Ran grown = run(tool("klf-coverage") + " --max-dop 4 --db '" + cluster.gdal("coverage") + "' '" + a + "' 2>&1");
    EXPECT_EQ(grown.status, 0) << grown.out;
    EXPECT_NE(grown.out.find("grown since it was added"), std::string::npos) << grown.out;
    const Ran once = run(tool("klf-coverage") + " --max-dop 4 --db '" + cluster.gdal("oneshot") + "' '" + a + "' 2>&1");
    ASSERT_EQ(once.status, 0) << once.out;
    EXPECT_EQ(cells("coverage"), cells("oneshot"));
}

// The log deleted under the logger, which then starts a new one under the
// name: the first is finished once the logger lets go of it, and the new
// one is another drive; each as a one-shot upload of it would add it.
TEST_F(CoverageFollow, ALogDeletedAndStartedAgainIsTwoDrives)
{
    std::vector<size_t> ends;
    const DriveTestLog first = driveLog(95, -33.87, 151.21, 0.0002, 0.0001, 80, &ends);
    const DriveTestLog second = driveLog(96, -33.8701, 151.2101, 0.0001, 0.0002, 60);
    const std::string a = path("a.KLF");
    auto writer = std::make_unique<LockedWriter>(a, first);
    ASSERT_TRUE(writer->ok());
    writer->writeTo(ends[50] + 5);
    Uploader up(followArgs(a), path("a.err"));
    ASSERT_TRUE(uploadedTo("a.KLF", ends, writer->written())) << up.err();
    writer->writeTo(ends[70] + 9);
    // What a one-shot run of the first log would have read.
    std::filesystem::copy_file(a, path("first.KLF"));
    ASSERT_EQ(::unlink(a.c_str()), 0);
    ASSERT_TRUE(up.says("deleted")) << up.err();
    writer = std::make_unique<LockedWriter>(a, second);
    ASSERT_TRUE(writer->ok());
    writer->writeTo(second.bytes.size() / 2);
    writer->writeTo(second.bytes.size());
    writer->close();
    // The first log's last record was left cut short, as a one-shot run says too.
    EXPECT_EQ(up.wait(), 2) << up.err();
    EXPECT_EQ(up.count("following the new log at the name"), 1u) << up.err();

    std::filesystem::copy_file(a, path("second.KLF"));
    const Ran once = oneShot("'" + path("first.KLF") + "' '" + path("second.KLF") + "'", "oneshot");
    ASSERT_EQ(once.status, 2) << once.out;
    EXPECT_EQ(cells("coverage"), cells("oneshot"));
    const std::string hashes = "SELECT sha256, bytes_read, read_sha256, log_id FROM drives ORDER BY sha256";
    EXPECT_EQ(cluster.sql(hashes, "coverage").out, cluster.sql(hashes, "oneshot").out);
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives WHERE file_name = 'a.KLF'", "coverage").out, "2\n");
}

// A log too short yet to be known by its beginning is not sent when
// following stops (a later upload could not find it again); a log whose
// part the map read has changed since is refused, not followed.
TEST_F(CoverageFollow, AShortLogIsKeptBackAndAChangedOneRefused)
{
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(97, 35.68, 139.69, 0.0002, 0.0001, 60, &ends);
    ASSERT_GT(ends[59], size_t(8192));
    const std::string a = path("a.KLF");
    {
        LockedWriter writer(a, log);
        ASSERT_TRUE(writer.ok());
        writer.writeTo(2000);
        Uploader up(followArgs(a), path("short.err"));
        // Not sent while short, even with uploads due every 0.2 s: wait for
        // the first look to be over (a line per upload is not asked for),
        // then stop.
        ASSERT_TRUE(eventually([&] {
            return cluster.sql("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'klf-coverage'"
                               " AND state = 'idle'", "coverage").out == "1\n";
        }));
        up.signal(SIGTERM);
        EXPECT_EQ(up.wait(), 0) << up.err();
        EXPECT_NE(up.err().find("not sent (a later run sends it)"), std::string::npos) << up.err();
        EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "0\n");
        writer.writeTo(log.bytes.size());
    }
    ASSERT_EQ(oneShot("'" + a + "'", "coverage").status, 0);
    const std::string before = cells("coverage");
    // A byte of a record's payload changed, past the beginning the log is known by.
    {
        std::fstream f(a, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(ends[40] - 3));
        f.put(char(log.bytes[ends[40] - 3] ^ 0x5A));
    }
    Uploader changed(followArgs(a), path("changed.err"));
    EXPECT_EQ(changed.wait(), 1) << changed.err();
    EXPECT_NE(changed.err().find("changed since"), std::string::npos) << changed.err();
    EXPECT_EQ(cells("coverage"), before);
}
