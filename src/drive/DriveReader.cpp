#include "DriveReader.h"

#include "drive/DrivePass.h"
#include "log/KlfPullReader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

DriveSummary::Status DriveReader::statusOf(KlfPullReader::Status s)
{
    switch (s) {
    case KlfPullReader::Status::Ok: return DriveSummary::Status::Ok;
    case KlfPullReader::Status::Malformed: return DriveSummary::Status::Malformed;
    case KlfPullReader::Status::Truncated: return DriveSummary::Status::Truncated;
    case KlfPullReader::Status::Unreadable: return DriveSummary::Status::Unreadable;
    }
    return DriveSummary::Status::Malformed;
}

DriveSummary DriveReader::read(const std::string& path, DriveSink& sink) const
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        DriveSummary summary;
        summary.status = DriveSummary::Status::Unreadable;
        summary.error = "cannot open " + path + ": " + std::strerror(errno);
        return summary;
    }
    DriveSummary summary = read(file, sink);
    std::fclose(file);
    return summary;
}

DriveSummary DriveReader::read(std::FILE* file, DriveSink& sink) const
{
    DriveSummary summary;
    struct stat st{};
    if (::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
        const long at = std::ftell(file);
        summary.bytes = uint64_t(st.st_size) - uint64_t(at > 0 ? at : 0);
    }

    KlfPullReader in(file);
    DrivePass pass(m_filter, sink, summary);
    bool cancelled = false;
    if (in.readHeader()) {
        summary.hasHeader = in.hasHeader();
        summary.serialNumber = in.serialNumber();
        summary.receiverFlags = in.receiverFlags();
        pass.header(in);
        KlfPullReader::Record r;
        uint64_t nextProgress = kProgressStep;
        while (in.next(r)) {
            if (r.checksumOk)
                pass.record(r, summary.records);
            ++summary.records;
            if (m_progress && in.offset() >= nextProgress) {
                nextProgress = in.offset() + kProgressStep;
                if (!m_progress(in.offset(), summary.bytes)) {
                    cancelled = true;
                    break;
                }
            }
        }
    }
    summary.hasHeader = in.hasHeader();
    if (!cancelled)
        pass.finish();
    summary.bytesRead = in.offset();
    summary.checksumErrors = in.checksumErrors();
    summary.status = cancelled ? DriveSummary::Status::Cancelled : statusOf(in.status());
    summary.error = in.error();
    summary.stopOffset = in.errorOffset();
    if (m_progress && !cancelled)
        m_progress(in.offset(), summary.bytes);
    return summary;
}
