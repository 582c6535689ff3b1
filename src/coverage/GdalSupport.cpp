#include "coverage/GdalSupport.h"

#include "platform/UtcTime.h"

#include <cmath>
#include <gdal_priv.h>
#include <mutex>
#include <ogr_feature.h>
#include <ogr_spatialref.h>

void GdalSupport::init()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        // Messages are ours to report, not GDAL's to print.
        CPLSetErrorHandler(CPLQuietErrorHandler);
    });
}

std::string GdalSupport::lastError(const std::string& fallback)
{
    const char* m = CPLGetLastErrorMsg();
    return m && *m ? std::string(m) : fallback;
}

bool GdalSupport::execute(GDALDataset* ds, const std::string& sql, std::string& error)
{
    CPLErrorReset();
    OGRLayer* result = ds->ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (result)
        ds->ReleaseResultSet(result);
    if (CPLGetLastErrorType() >= CE_Failure) {
        error = lastError("a statement failed");
        return false;
    }
    return true;
}

OGRSpatialReference* GdalSupport::wgs84()
{
    static OGRSpatialReference* srs = [] {
        auto* s = new OGRSpatialReference();
        s->importFromEPSG(4326);
        s->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        return s;
    }();
    return srs;
}

void GdalSupport::setTime(OGRFeature& f, const char* field, int64_t ms)
{
    setTime(f, f.GetFieldIndex(field), ms);
}

void GdalSupport::setTime(OGRFeature& f, int field, int64_t ms)
{
    // Civil from days (proleptic Gregorian), without parsing a text per row.
    const int64_t dayMs = 86400000;
    int64_t days = ms / dayMs, rest = ms % dayMs;
    if (rest < 0) {
        rest += dayMs;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const int year = int(yoe + era * 400 + (month <= 2));
    f.SetField(field, year, month, day, int(rest / 3600000), int(rest / 60000 % 60), float(rest % 60000) / 1000.0f, 100);
}

int64_t GdalSupport::time(const OGRFeature& f, int field)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, tz = 0;
    float s = 0;
    if (!const_cast<OGRFeature&>(f).GetFieldAsDateTime(field, &y, &mo, &d, &h, &mi, &s, &tz))
        return 0;
    const int whole = int(std::floor(s));
    int64_t ms = 0;
    UtcTime::fromCivil(y, mo, d, h, mi, whole, ms);
    return ms + std::llround((double(s) - whole) * 1000.0);
}
