#include "DriveFollower.h"

#include "drive/DriveReader.h"

DriveFollower::DriveFollower(std::string path, DriveSink& sink, const DriveFilter& filter)
    : m_log(std::move(path)), m_filter(filter), m_gate(sink)
{
}

DriveFollower::~DriveFollower() = default;

bool DriveFollower::open(uint64_t resumeAt)
{
    m_summary = {};
    m_pass = std::make_unique<DrivePass>(m_filter, m_gate, m_summary);
    m_headerTaken = false;
    m_finished = false;
    m_wrongResume = false;
    m_resumeAt = resumeAt;
    m_gate.open = resumeAt == 0;
    if (!m_log.reopen()) {
        refreshSummary();
        return false;
    }
    if (resumeAt == 0)
        return true;
    m_log.poll();
    take();
    if (!m_gate.open) {
        m_summary.error = "the log does not end a record at offset " + std::to_string(resumeAt)
                          + ": not the log followed before, or not yet as long";
        m_wrongResume = true;
        return false;
    }
    return true;
}

void DriveFollower::takeHeader()
{
    m_headerTaken = true;
    m_summary.serialNumber = m_log.serialNumber();
    m_summary.receiverFlags = m_log.receiverFlags();
    m_pass->header(m_log);
}

void DriveFollower::take()
{
    if (m_finished || m_wrongResume || !m_pass)
        return;
    KlfFollower::Record r;
    while (m_log.next(r)) {
        if (!m_gate.open && r.offset >= m_resumeAt) {
            // A record across the offset: it was not where one ended.
            if (r.offset != m_resumeAt) {
                m_wrongResume = true;
                break;
            }
            m_gate.open = true;
        }
        if (!m_headerTaken)
            takeHeader();
        if (r.checksumOk)
            m_pass->record(r, m_summary.records);
        ++m_summary.records;
    }
    if (!m_headerTaken && m_log.headerKnown())
        takeHeader();
    // The offset is the end of what the file holds so far.
    if (!m_gate.open && !m_wrongResume && offset() == m_resumeAt)
        m_gate.open = true;
    refreshSummary();
}

DriveFollower::Change DriveFollower::update()
{
    const Change change = m_log.poll();
    take();
    return change;
}

const DriveSummary& DriveFollower::finish()
{
    if (m_finished || m_wrongResume || !m_pass)
        return m_summary;
    m_log.poll();
    m_log.finish();
    take();
    // As a whole read: a header is taken unless the file broke before its end.
    if (!m_headerTaken && m_log.status() == KlfFollower::Status::Ok)
        takeHeader();
    if (m_gate.open)
        m_pass->finish();
    m_finished = true;
    refreshSummary();
    return m_summary;
}

void DriveFollower::refreshSummary()
{
    m_summary.hasHeader = m_log.hasHeader();
    m_summary.bytes = m_log.size();
    m_summary.bytesRead = m_log.offset();
    m_summary.checksumErrors = m_log.checksumErrors();
    m_summary.status = DriveReader::statusOf(m_log.status());
    m_summary.error = m_log.error();
    m_summary.stopOffset = m_log.errorOffset();
}
