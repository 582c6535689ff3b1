// klf-inspect: checks a .KLF log file record by record and prints a summary,
// every record (--dump) or machine-readable counts (--json).
//
// Exit status: 0 the file is whole; 1 malformed (no header in an empty file,
// bad header, bad checksum or impossible length; the offset is printed); 2
// whole except for one record cut short at the end, as a crash during a write
// leaves it; 3 usage or I/O error; 4 not a regular file (a directory, a
// device): "-" reads standard input instead.
//
// The file is read in blocks and walked as it comes, so a log of any size
// takes the same memory.

#include "ChannelCensus.h"
#include "KlfSummary.h"
#include "drive/DriveReader.h"
#include "log/KlfStream.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = 3;
constexpr int kExitNotAFile = 4;

// Asked for, the usage goes to standard output; after a mistake, to standard error.
void usage(std::ostream& out = std::cerr)
{
    out << "usage: klf-inspect [--dump] [--json] [--headerless | --header] FILE.KLF\n"
                 "  FILE.KLF      a regular file, or - for standard input\n"
                 "  --dump        print every record: offset, L, type, bytes in hex\n"
                 "  --json        print the summary as JSON\n"
                 "  --headerless  the file has no header (records only)\n"
                 "  --header      the file must start with a header\n"
                 "  without either, a header is recognised by its first 23 bytes\n"
                 "  -h, --help    print this summary and exit\n"
                 "  --version     print the version and exit\n"
                 "The summary lists the channels and frequencies the log holds, per receiver and mode,\n"
                 "with their sample counts (not for standard input).\n"
                 "exit status: 0 whole, 1 malformed, 2 last record cut short, 3 usage or I/O error,\n"
                 "  4 not a regular file\n";
}

void dumpRecord(const KlfStream::Record& r, std::span<const uint8_t> bytes, bool isChannelInfo, std::ostream& out)
{
    char head[96];
    std::snprintf(head, sizeof head, "%10zu  L=%-5u type=%-3u %s%s ", r.offset, r.length, r.type,
                  isChannelInfo ? "[channel information]" : "", r.checksumOk ? "" : " BAD-CHECKSUM");
    out << head;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        out << hex;
    }
    out << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    bool wantDump = false;
    bool wantJson = false;
    KlfStream::HeaderMode mode = KlfStream::HeaderMode::Detect;
    const char* fileName = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dump") == 0)
            wantDump = true;
        else if (std::strcmp(argv[i], "--json") == 0)
            wantJson = true;
        else if (std::strcmp(argv[i], "--headerless") == 0)
            mode = KlfStream::HeaderMode::Absent;
        else if (std::strcmp(argv[i], "--header") == 0)
            mode = KlfStream::HeaderMode::Present;
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage(std::cout);
            return kExitOk;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "klf-inspect " << TAVRIX_VERSION << "\n";
            return kExitOk;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            usage();
            return kExitUsage;
        } else if (!fileName)
            fileName = argv[i];
        else {
            usage();
            return kExitUsage;
        }
    }
    if (!fileName) {
        usage();
        return kExitUsage;
    }

    const bool fromStdin = std::strcmp(fileName, "-") == 0;
    const int fd = fromStdin ? STDIN_FILENO : ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "klf-inspect: cannot open " << fileName << ": " << std::strerror(errno) << "\n";
        return kExitUsage;
    }
    struct stat st;
    if (!fromStdin && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        std::cerr << "klf-inspect: " << fileName << ": not a regular file (use - to read standard input)\n";
        ::close(fd);
        return kExitNotAFile;
    }

    KlfSummary summary;
    KlfStream reader(mode, [&](const KlfStream::Record& r, std::span<const uint8_t> bytes, bool isChannelInfo) {
        if (wantDump)
            dumpRecord(r, bytes, isChannelInfo, std::cout);
        if (!isChannelInfo)
            summary.add(r, bytes);
    });
    std::array<uint8_t, 1 << 16> buffer;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::cerr << "klf-inspect: cannot read " << fileName << ": " << std::strerror(errno) << "\n";
            return kExitUsage;
        }
        if (n == 0)
            break;
        reader.feed({buffer.data(), size_t(n)});
        // Nothing after a bad length can be placed; the rest need not be read.
        if (reader.stopped())
            break;
    }
    reader.finish();
    if (!fromStdin)
        ::close(fd);

    // The measurements decoded as klf-export decodes them, so what is listed is what it can pick.
    ChannelCensus census;
    if (!fromStdin)
        DriveReader().read(fileName, census);
    const ChannelCensus* listed = fromStdin ? nullptr : &census;
    if (wantJson)
        summary.printJson(std::cout, fileName, reader, listed);
    else
        summary.printText(std::cout, fileName, reader, listed);

    switch (reader.status()) {
    case KlfStream::Status::Ok:
        return kExitOk;
    case KlfStream::Status::Truncated:
        std::cerr << "klf-inspect: " << fileName << ": " << reader.error() << "\n";
        return kExitTruncated;
    case KlfStream::Status::Malformed:
        std::cerr << "klf-inspect: " << fileName << ": " << reader.error() << "\n";
        return kExitMalformed;
    }
    return kExitMalformed;
}
