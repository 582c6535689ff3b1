// klf-inspect: checks a .KLF log file record by record and prints a summary,
// every record (--dump) or machine-readable counts (--json).
//
// Exit status: 0 the file is whole; 1 malformed (bad header, bad checksum or
// impossible length; the offset is printed); 2 whole except for one record cut
// short at the end, as a crash during a write leaves it; 3 usage or I/O error.

#include "KlfSummary.h"
#include "log/KlfReader.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = 3;

// Asked for, the usage goes to standard output; after a mistake, to standard error.
void usage(std::ostream& out = std::cerr)
{
    out << "usage: klf-inspect [--dump] [--json] [--headerless | --header] FILE.KLF\n"
                 "  --dump        print every record: offset, L, type, bytes in hex\n"
                 "  --json        print the summary as JSON\n"
                 "  --headerless  the file has no header (records only)\n"
                 "  --header      the file must start with a header\n"
                 "  without either, a header is recognised by its first 23 bytes\n"
                 "  -h, --help    print this summary and exit\n";
}

void dump(const KlfReader& reader, std::ostream& out)
{
    auto line = [&](const char* label, const KlfReader::Record& r) {
        char head[96];
        std::snprintf(head, sizeof head, "%10zu  L=%-5u type=%-3u %s%s ", r.offset, r.length, r.type, label,
                      r.checksumOk ? "" : " BAD-CHECKSUM");
        out << head;
        for (uint8_t b : reader.recordBytes(r)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            out << hex;
        }
        out << "\n";
    };
    if (auto ci = reader.channelInfo())
        line("[channel information]", *ci);
    for (const auto& r : reader.records())
        line("", r);
}

} // namespace

int main(int argc, char** argv)
{
    bool wantDump = false;
    bool wantJson = false;
    KlfReader::HeaderMode mode = KlfReader::HeaderMode::Detect;
    const char* fileName = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dump") == 0)
            wantDump = true;
        else if (std::strcmp(argv[i], "--json") == 0)
            wantJson = true;
        else if (std::strcmp(argv[i], "--headerless") == 0)
            mode = KlfReader::HeaderMode::Absent;
        else if (std::strcmp(argv[i], "--header") == 0)
            mode = KlfReader::HeaderMode::Present;
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage(std::cout);
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

    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        std::cerr << "klf-inspect: cannot open " << fileName << ": " << std::strerror(errno) << "\n";
        return kExitUsage;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::cerr << "klf-inspect: cannot read " << fileName << "\n";
        return kExitUsage;
    }

    const KlfReader reader(data, mode);
    const KlfSummary summary(reader);
    if (wantDump)
        dump(reader, std::cout);
    if (wantJson)
        summary.printJson(std::cout, fileName);
    else
        summary.printText(std::cout, fileName);

    switch (reader.status()) {
    case KlfReader::Status::Ok:
        return kExitOk;
    case KlfReader::Status::Truncated:
        std::cerr << "klf-inspect: " << fileName << ": " << reader.error() << "\n";
        return kExitTruncated;
    case KlfReader::Status::Malformed:
        std::cerr << "klf-inspect: " << fileName << ": " << reader.error() << "\n";
        return kExitMalformed;
    }
    return kExitMalformed;
}
