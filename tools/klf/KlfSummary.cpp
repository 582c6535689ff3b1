#include "KlfSummary.h"

#include "platform/TextEscape.h"
#include "protocol/MessageCodec.h"
#include "protocol/ReceiverSettings.h"

#include <cstdio>

namespace {

const char* statusName(KlfStream::Status s)
{
    switch (s) {
    case KlfStream::Status::Ok: return "ok";
    case KlfStream::Status::Malformed: return "malformed";
    case KlfStream::Status::Truncated: return "truncated";
    }
    return "?";
}

std::string fixText(const KlfSummary::Fix& f)
{
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d  %.6f, %.6f", f.year, f.month, f.day,
                  f.hours, f.minutes, f.seconds, f.latitude, f.longitude);
    return text;
}

std::string fixJson(const KlfSummary::Fix& f)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "{\"date\": \"%04d-%02d-%02d\", \"time\": \"%02d:%02d:%02d\", \"latitude\": %.7f, "
                  "\"longitude\": %.7f}",
                  f.year, f.month, f.day, f.hours, f.minutes, f.seconds, f.latitude, f.longitude);
    return text;
}

} // namespace

void KlfSummary::add(const KlfStream::Record& r, std::span<const uint8_t> bytes)
{
    ++m_records;
    ++m_byType[r.type];
    if (!m_channelList && r.checksumOk && (r.type == Message::CurrentFrequency || r.type == Message::ScanChannelList))
        m_channelList = ChannelListRecord{m_records, r.offset, r.type};
    if (r.type == Message::GpsMessage && r.checksumOk && r.length >= 2) {
        if (auto fix = decodeFix(bytes.subspan(3, size_t(r.length) - 2))) {
            if (!m_firstFix)
                m_firstFix = fix;
            m_lastFix = fix;
        }
    }
}

std::optional<KlfSummary::Fix> KlfSummary::decodeFix(std::span<const uint8_t> payload)
{
    const auto message = MessageCodec::gpsMessage(payload);
    if (!message)
        return std::nullopt;
    m_gps.Decode(message->data());
    Fix f;
    f.month = m_gps.Month;
    f.day = m_gps.Day;
    f.year = m_gps.Year;
    f.hours = m_gps.Hours;
    f.minutes = m_gps.Minutes;
    f.seconds = m_gps.Seconds;
    f.latitude = m_gps.Latitude;
    f.longitude = m_gps.Longitude;
    return f;
}

std::string KlfSummary::channelInfoText(const KlfStream& r) const
{
    char text[160];
    if (const auto ci = r.channelInfo()) {
        std::snprintf(text, sizeof text, "in the header (type %d, L = %d)", int(ci->type), int(ci->length));
    } else if (m_channelList) {
        std::snprintf(text, sizeof text, "in record %llu at offset %zu (type %d)",
                      static_cast<unsigned long long>(m_channelList->number), m_channelList->offset,
                      m_channelList->type);
    } else {
        return "none: not convertible (start the measurement on the Tavrix while logging, so that it sends "
               "its channel list)";
    }
    return text;
}

void KlfSummary::printText(std::ostream& out, const std::string& fileName, const KlfStream& r,
                           const ChannelCensus* census) const
{
    out << fileName << ": " << statusName(r.status());
    if (r.status() != KlfStream::Status::Ok)
        out << ": " << r.error();
    out << "\n";
    if (r.truncatedAt())
        out << "warning: last record cut short at offset " << *r.truncatedAt() << "\n";
    if (r.checksumErrors())
        out << "records with a bad checksum: " << r.checksumErrors() << "\n";

    if (r.hasHeader()) {
        out << "header: yes\n";
        out << "serial number: " << (r.serialNumber().empty() ? "(none)" : r.serialNumber()) << "\n";
        for (int rx = 0; rx < 2; ++rx) {
            const bool active = r.receiverFlags() & (1 << rx);
            out << "receiver R" << (rx + 1) << ": ";
            if (!active) {
                out << "inactive\n";
                continue;
            }
            ReceiverSettings settings;
            settings.storeBlock(r.settingsBlock(rx).data());
            const double stepKHz = settings.stepRaw() / 256.0;
            char text[128];
            std::snprintf(text, sizeof text, "active, %.6g - %.6g MHz, step %.6g kHz",
                          settings.lowEdge() * stepKHz * 0.001, settings.highEdge() * stepKHz * 0.001, stepKHz);
            out << text << "\n";
        }
    } else {
        out << "header: none (appended records only)\n";
    }
    out << "channel information: " << channelInfoText(r) << "\n";
    out << "records: " << r.recordCount() << "\n";
    for (const auto& [type, count] : m_byType)
        out << "  type " << type << ": " << count << "\n";
    if (m_firstFix) {
        out << "first GPS fix: " << fixText(*m_firstFix) << "\n";
        out << "last GPS fix:  " << fixText(*m_lastFix) << "\n";
    } else {
        out << "GPS fixes: none\n";
    }
    if (!census) {
        out << "channels and frequencies: not listed for standard input\n";
    } else if (census->empty()) {
        out << "channels and frequencies: no measurements\n";
    } else {
        out << "channels and frequencies (klf-export --channel or --frequency picks one):\n";
        census->printText(out);
    }
}

void KlfSummary::printJson(std::ostream& out, const std::string& fileName, const KlfStream& r,
                           const ChannelCensus* census) const
{
    out << "{\n  \"file\": " << TextEscape::json(fileName) << ",\n";
    out << "  \"status\": \"" << statusName(r.status()) << "\",\n";
    if (r.status() != KlfStream::Status::Ok) {
        out << "  \"error\": " << TextEscape::json(r.error()) << ",\n";
        out << "  \"errorOffset\": " << r.errorOffset() << ",\n";
    }
    out << "  \"truncatedAt\": ";
    if (r.truncatedAt())
        out << *r.truncatedAt();
    else
        out << "null";
    out << ",\n  \"checksumErrors\": " << r.checksumErrors() << ",\n";
    out << "  \"header\": " << (r.hasHeader() ? "true" : "false") << ",\n";
    out << "  \"serialNumber\": " << TextEscape::json(r.serialNumber()) << ",\n";
    out << "  \"receiverFlags\": " << int(r.receiverFlags()) << ",\n";
    // True wherever the log holds it, as the text says.
    out << "  \"channelInfo\": " << (r.channelInfo() || m_channelList ? "true" : "false") << ",\n";
    out << "  \"channelInfoIn\": ";
    if (r.channelInfo())
        out << "{\"header\": true, \"type\": " << int(r.channelInfo()->type) << "}";
    else if (m_channelList)
        out << "{\"record\": " << m_channelList->number << ", \"offset\": " << m_channelList->offset
            << ", \"type\": " << m_channelList->type << "}";
    else
        out << "null";
    out << ",\n";
    out << "  \"records\": " << r.recordCount() << ",\n";
    out << "  \"byType\": {";
    bool first = true;
    for (const auto& [type, count] : m_byType) {
        out << (first ? "" : ", ") << "\"" << type << "\": " << count;
        first = false;
    }
    out << "},\n";
    out << "  \"firstFix\": " << (m_firstFix ? fixJson(*m_firstFix) : "null") << ",\n";
    out << "  \"lastFix\": " << (m_lastFix ? fixJson(*m_lastFix) : "null") << ",\n";
    out << "  \"channels\": ";
    if (census)
        census->printJson(out);
    else
        out << "null";
    out << ",\n";
    out << "  \"endOfRecords\": " << r.endOfRecords() << "\n}\n";
}
