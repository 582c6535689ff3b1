// The export formats and options, written from logs built record by record.
#include "CsvWriter.h"
#include "ExportOptions.h"
#include "GeoJsonWriter.h"
#include "GpxWriter.h"
#include "KmlWriter.h"
#include "platform/ProgressBar.h"
#include "TextBuffer.h"
#include "platform/UtcTime.h"
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

namespace {

// A drive: fixes 1 s apart along a line, two scan reports between them.
DriveTestLog sampleDrive()
{
    DriveTestLog ci;
    ci.scanChannelList();
    DriveTestLog log;
    log.header(0x03, ci.bytes)
        .gps(40.0, -74.0, 0)
        .scan({{0, 0, -90}, {1, 1, -60}})
        .scan({{0, 2, -70}})
        .gps(40.3, -73.7, 1)
        .gps(40.6, -73.4, 2)           // nothing placed since the last fix
        .scan({{1, 3, -66}}); // after the last fix: not placed
    return log;
}

std::string exportWith(const std::vector<uint8_t>& bytes, const std::function<ExportWriter*(std::FILE*)>& make,
                       const DriveFilter& filter = {})
{
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::FILE* in = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    {
        std::unique_ptr<ExportWriter> w(make(out));
        DriveReader reader;
        reader.setFilter(filter);
        const DriveSummary s = reader.read(in, *w);
        EXPECT_TRUE(w->finish(s));
    }
    std::fclose(in);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(CsvWriter, OneRowPerPlacedSampleWithIsoTimeAndPoint)
{
    const std::string csv = exportWith(sampleDrive().bytes, [](std::FILE* f) { return new CsvWriter(f); });
    const std::vector<std::string> expect = {
        "time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm",
        "2004-03-09T12:00:00.333Z,40.1000000,-73.9000000,1,scan,1,851,-90",
        "2004-03-09T12:00:00.333Z,40.1000000,-73.9000000,2,scan,12,851.275,-60",
        "2004-03-09T12:00:00.667Z,40.2000000,-73.8000000,1,scan,3,851.05,-70",
    };
    EXPECT_EQ(lines(csv), expect);
}

TEST(CsvWriter, UnknownChannelAndFrequencyAreEmptyFields)
{
    DriveTestLog log;
    log.header(0x00).gps(1.0, 2.0, 0).scan({{0, 4, -77}}).gps(1.0, 2.0, 1);
    const auto rows = lines(exportWith(log.bytes, [](std::FILE* f) { return new CsvWriter(f); }));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], "2004-03-09T12:00:00.500Z,1.0000000,2.0000000,1,scan,,,-77");
}

TEST(GeoJsonWriter, FeaturesCarryTheCsvColumnsWithNullsForUnknowns)
{
    const std::string json = exportWith(sampleDrive().bytes, [](std::FILE* f) { return new GeoJsonWriter(f); });
    EXPECT_EQ(json.rfind("{\"type\":\"FeatureCollection\",\"features\":[", 0), 0u);
    EXPECT_EQ(count(json, "\"type\":\"Feature\""), 3u);
    EXPECT_NE(json.find("\"coordinates\":[-73.9000000,40.1000000]"), std::string::npos) << "longitude first";
    EXPECT_NE(json.find("\"time\":\"2004-03-09T12:00:00.667Z\",\"latitude\":40.2000000,\"longitude\":-73.8000000,"
                        "\"receiver\":1,\"mode\":\"scan\",\"channel\":3,\"frequency_mhz\":851.05,\"rssi_dbm\":-70"),
              std::string::npos)
        << json;

    DriveTestLog bare;
    bare.header(0x00).gps(1.0, 2.0, 0).scan({{0, 4, -77}}).gps(1.0, 2.0, 1);
    const std::string unknown = exportWith(bare.bytes, [](std::FILE* f) { return new GeoJsonWriter(f); });
    EXPECT_NE(unknown.find("\"channel\":null,\"frequency_mhz\":null"), std::string::npos) << unknown;
    const std::string empty = exportWith(DriveTestLog().header().bytes, [](std::FILE* f) { return new GeoJsonWriter(f); });
    EXPECT_EQ(empty, "{\"type\":\"FeatureCollection\",\"features\":[\n]}\n");
}

TEST(GpxWriter, TrackPointPerUsedFixWithTheStrongestRssiSinceThePrevious)
{
    const std::string gpx = exportWith(sampleDrive().bytes, [](std::FILE* f) { return new GpxWriter(f, "d"); });
    EXPECT_EQ(count(gpx, "<trkpt "), 3u);
    EXPECT_NE(gpx.find("<trkpt lat=\"40.3000000\" lon=\"-73.7000000\"><ele>0.00</ele><time>2004-03-09T12:00:01.000Z"
                       "</time><fix>3d</fix><sat>7</sat><extensions><tavrix:rssi_dbm>-60</tavrix:rssi_dbm>"
                       "<tavrix:receiver>2</tavrix:receiver></extensions></trkpt>"),
              std::string::npos)
        << gpx;
    EXPECT_EQ(count(gpx, "<extensions>"), 1u) << "the first fix and a fix with nothing since carry no value";

    DriveFilter r1;
    r1.receiver = 0;
    const std::string only1 = exportWith(sampleDrive().bytes, [](std::FILE* f) { return new GpxWriter(f, "d"); }, r1);
    EXPECT_NE(only1.find("<tavrix:rssi_dbm>-70</tavrix:rssi_dbm><tavrix:receiver>1"), std::string::npos) << only1;
}

// A log's name comes from the file system, in no promised encoding; XML
// readers reject a document with a byte that is not UTF-8.
TEST(ExportWriter, aNameThatIsNotUtf8IsWrittenWithAReplacementCharacter)
{
    const std::string name = "caf\xE9\x01.KLF";
    const std::string gpx = exportWith(sampleDrive().bytes, [&](std::FILE* f) { return new GpxWriter(f, name); });
    EXPECT_NE(gpx.find("<name>caf\xEF\xBF\xBD.KLF</name>"), std::string::npos) << gpx.substr(0, 400);
    const std::string kml =
        exportWith(sampleDrive().bytes, [&](std::FILE* f) { return new KmlWriter(f, name, -1, -120, -50); });
    EXPECT_NE(kml.find("<Document><name>caf\xEF\xBF\xBD.KLF</name>"), std::string::npos) << kml.substr(0, 400);
}

TEST(KmlWriter, FolderPerReceiverStyledByValueAndTheRoute)
{
    const std::string kml =
        exportWith(sampleDrive().bytes, [](std::FILE* f) { return new KmlWriter(f, "d<&>", -1, -120, -50); });
    EXPECT_NE(kml.find("<Document><name>d&lt;&amp;&gt;</name>"), std::string::npos);
    EXPECT_EQ(count(kml, "<Style id=\"dbm-"), 71u);
    EXPECT_EQ(count(kml, "<Folder><name>R1</name>"), 1u);
    EXPECT_EQ(count(kml, "<Folder><name>R2</name>"), 1u);
    EXPECT_EQ(count(kml, "<Point>"), 6u) << "three used fixes in each folder";
    EXPECT_NE(kml.find("<coordinates>\n-74.0000000,40.0000000,0\n-73.7000000,40.3000000,0\n-73.4000000,40.6000000,0\n"
                       "</coordinates>"),
              std::string::npos);
    const size_t r1 = kml.find("<Folder><name>R1</name>");
    const size_t r2 = kml.find("<Folder><name>R2</name>");
    EXPECT_LT(kml.find("<styleUrl>#dbm-70</styleUrl>", r1), r2);
    EXPECT_GT(kml.find("<styleUrl>#dbm-60</styleUrl>", r1), r2);
    EXPECT_NE(kml.find("<Style id=\"dbm-120\"><IconStyle><color>ffff0000</color>"), std::string::npos) << "blue";
    EXPECT_NE(kml.find("<Style id=\"dbm-50\"><IconStyle><color>ff0000ff</color>"), std::string::npos) << "red";

    // Values outside the range take the style of its nearest end.
    const std::string narrow =
        exportWith(sampleDrive().bytes, [](std::FILE* f) { return new KmlWriter(f, "d", 0, -80, -75); });
    EXPECT_EQ(count(narrow, "<Style id=\"dbm-"), 6u);
    EXPECT_NE(narrow.find("<name>-70 dBm</name><TimeStamp><when>2004-03-09T12:00:01.000Z</when></TimeStamp>"
                          "<styleUrl>#dbm-75</styleUrl>"),
              std::string::npos)
        << narrow;
    EXPECT_EQ(count(narrow, "<Folder><name>R2</name>"), 0u);
}

TEST(KmlWriter, ReceiverWithoutSamplesHasNoFolderAndOneFixNoRoute)
{
    DriveTestLog ci;
    ci.scanChannelList();
    DriveTestLog log;
    log.header(0x01, ci.bytes).gps(1.0, 1.0, 0).scan({{0, 0, -80}}).gps(1.1, 1.1, 1);
    const std::string kml = exportWith(log.bytes, [](std::FILE* f) { return new KmlWriter(f, "d", -1, -120, -50); });
    EXPECT_EQ(count(kml, "<Folder><name>R1</name>"), 1u);
    EXPECT_EQ(count(kml, "<Folder><name>R2</name>"), 0u);

    DriveTestLog one;
    one.header(0x01).gps(1.0, 1.0, 0);
    const std::string single = exportWith(one.bytes, [](std::FILE* f) { return new KmlWriter(f, "d", -1, -120, -50); });
    EXPECT_EQ(count(single, "<LineString>"), 0u) << "a line needs two points";
    EXPECT_EQ(count(single, "<Folder><name>R1</name>"), 1u) << "with no samples at all, the first receiver's folder";
    EXPECT_EQ(count(single, "<styleUrl>#none</styleUrl>"), 1u);
}

TEST(KmlWriter, StyleColoursAreThePalettesInKmlByteOrder)
{
    struct Case { int rssi; double hue; RssiPalette::Rgb rgb; const char* kml; };
    const Case cases[] = {
        {-120, 240, {0, 0, 255}, "ffff0000"},  {-130, 240, {0, 0, 255}, "ffff0000"},
        {-50, 0, {255, 0, 0}, "ff0000ff"},     {-20, 0, {255, 0, 0}, "ff0000ff"},
        {-85, 120, {0, 255, 0}, "ff00ff00"},   {-100, 171.4285714, {0, 255, 219}, "ffdbff00"},
        {-67, 58.2857143, {255, 248, 0}, "ff00f8ff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rssi);
        const RssiPalette palette(-120, -50);
        EXPECT_NEAR(240.0 * (1.0 - palette.position(c.rssi)), c.hue, 1e-6);
        EXPECT_EQ(palette.rgb(c.rssi), c.rgb);
        EXPECT_EQ(KmlWriter::colour(palette.rgb(c.rssi)), c.kml);
    }
}

TEST(TextBuffer, NumbersWithADecimalPointRoundedAsPrinted)
{
    struct Case { double value; int decimals; const char* fixed; const char* shortFixed; };
    const Case cases[] = {
        {40.5471, 7, "40.5471000", "40.5471"},
        {-74.38030000000001, 7, "-74.3803000", "-74.3803"},
        {-0.00000004, 7, "0.0000000", "0"}, // no negative zero
        {0.00000006, 7, "0.0000001", "0.0000001"},
        {851.0, 6, "851.000000", "851"},
        {851.0125, 6, "851.012500", "851.0125"},
        {1500.035, 6, "1500.035000", "1500.035"},
        {12.345, 2, "12.35", "12.35"},
        {-1.5, 0, "-2", "-2"},
        {1.0e20, 2, "100000000000000000000.00", "100000000000000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixed);
        char text[64];
        EXPECT_EQ(std::string(text, TextBuffer::formatFixed(text, c.value, c.decimals)), c.fixed);
        EXPECT_EQ(std::string(text, TextBuffer::formatShortFixed(text, c.value, c.decimals)), c.shortFixed);
    }
    char* out = nullptr;
    size_t size = 0;
    std::FILE* f = open_memstream(&out, &size);
    {
        TextBuffer b(f);
        int64_t ms = 0;
        UtcTime::fromCivil(2004, 3, 9, 12, 0, 5, ms);
        b.isoTime(ms + 500) << ' ';
        b.isoTime(ms + 999) << ' ';
        b.isoTime(ms + 1001) << ' ';
        b.isoTime(-1) << ' ';
        b.integer(INT64_MIN) << ' ';
        b.xml("a<b>&\"c\x01\td");
        // Longer than the buffer: the text arrives whole and in order.
        b << std::string(TextBuffer::kFlushAt * 2 + 7, 'x');
        EXPECT_TRUE(b.flush());
    }
    std::fclose(f);
    const std::string text(out, size);
    std::free(out);
    const std::string expect = "2004-03-09T12:00:05.500Z 2004-03-09T12:00:05.999Z 2004-03-09T12:00:06.001Z "
                               "1969-12-31T23:59:59.999Z -9223372036854775808 a&lt;b&gt;&amp;&quot;c\td";
    EXPECT_EQ(text.substr(0, expect.size()), expect);
    EXPECT_EQ(text.size(), expect.size() + TextBuffer::kFlushAt * 2 + 7);
}

// Halves, and the doubles either side of them, round as llround does.
TEST(TextBuffer, FixedRoundsHalvesAwayFromZero)
{
    const struct { double value; int decimals; const char* fixed; } cases[] = {
        {2.5, 0, "3"},
        {-2.5, 0, "-3"},
        {0.5, 0, "1"},
        {-0.5, 0, "-1"},
        {0.49999999999999994, 0, "0"}, // adding 0.5 would round this up
        {-0.49999999999999994, 0, "0"},
        {std::nextafter(2.5, 0.0), 0, "2"},
        {std::nextafter(2.5, 3.0), 0, "3"},
        {4503599627370495.5, 0, "4503599627370496"},
        {0.125, 2, "0.13"},
        {-0.125, 2, "-0.13"},
        {1.000000005, 9, "1.000000005"},
        {123.45678915, 8, "123.45678915"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixed);
        char text[64];
        EXPECT_EQ(std::string(text, TextBuffer::formatFixed(text, c.value, c.decimals)), c.fixed);
    }
}

TEST(ProgressBar, RedrawsOnlyWhenThePercentageMovesAndClearsItsLine)
{
    char* out = nullptr;
    size_t size = 0;
    std::FILE* f = open_memstream(&out, &size);
    {
        ProgressBar bar(f, "klf-export", 1000, true);
        for (uint64_t done : {0, 1, 2, 500, 504, 1000})
            bar.update(done);
        bar.clear();
        ProgressBar off(f, "klf-export", 1000, false);
        off.update(500);
        off.clear();
    }
    std::fclose(f);
    const std::string text(out, size);
    std::free(out);
    EXPECT_EQ(count(text, "\rklf-export: ["), 3u) << "0 %, 50 % and 100 %";
    EXPECT_NE(text.find("[" + std::string(20, '#') + std::string(20, '.') + "]  50%"), std::string::npos) << text;
    EXPECT_NE(text.find("[" + std::string(40, '#') + "] 100%"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 62), "\r" + std::string(60, ' ') + "\r");
    EXPECT_FALSE(ProgressBar::wanted(stderr, ProgressBar::kMinimumBytes - 1)) << "a small file needs no bar";
}

TEST(ExportOptions, CommandLines)
{
    using F = ExportOptions::Format;
    struct Case { std::vector<std::string> args; bool ok; F format; std::string output; };
    const Case cases[] = {
        {{"d.KLF"}, true, F::Csv, "-"},
        {{"-o", "out.GPX", "d.KLF"}, true, F::Gpx, "out.GPX"},
        {{"-o", "out.json", "d.KLF"}, true, F::GeoJson, "out.json"},
        {{"-o", "out.kml", "--format", "csv", "d.KLF"}, true, F::Csv, "out.kml"},
        {{"--format", "geojson", "-o", "-", "d.KLF"}, true, F::GeoJson, "-"},
        {{"-o", "dir.kml/out", "d.KLF"}, true, F::Csv, "dir.kml/out"},
        {{"--format", "shp", "d.KLF"}, false, F::Csv, ""},
        {{"--frequency", "851.025", "--channel", "3", "d.KLF"}, false, F::Csv, ""},
        {{"--receiver", "3", "d.KLF"}, false, F::Csv, ""},
        {{"--range", "-50,-120", "d.KLF"}, false, F::Csv, ""},
        {{"--range", "-120", "d.KLF"}, false, F::Csv, ""},
        {{"--bogus", "d.KLF"}, false, F::Csv, ""},
        {{"a.KLF", "b.KLF"}, false, F::Csv, ""},
        {{"-o"}, false, F::Csv, ""},
        {{}, false, F::Csv, ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        ExportOptions o;
        std::string error;
        ASSERT_EQ(ExportOptions::parse(c.args, o, error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(o.format, c.format);
            EXPECT_EQ(o.output, c.output);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }

    ExportOptions o;
    std::string error;
    ASSERT_TRUE(ExportOptions::parse({"--receiver", "2", "--channel", "12", "--range", "-100,-60", "d.KLF"}, o, error));
    EXPECT_EQ(o.filter.receiver, 1);
    EXPECT_EQ(o.filter.channel, 12);
    EXPECT_EQ(o.rangeMin, -100);
    EXPECT_EQ(o.rangeMax, -60);
    EXPECT_EQ(o.input, "d.KLF");
}

// The logger's range dialog takes whole dBm from -150 to 0, minimum below
// maximum; a range that works there works here, and a refusal says the limits.
TEST(ExportOptions, RangeTakesTheLoggersLimitsAndStatesThem)
{
    struct Case { const char* range; bool ok; };
    const Case cases[] = {
        {"-150,0", true}, {"-150,-149", true}, {"-1,0", true}, {"-120,-50", true},
        {"-151,0", false}, {"-150,1", false}, {"-60,-60", false}, {"-50,-120", false},
        {"-200,-130", false}, {"0,100", false}, {"-100,-60x", false}, {",-60", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        ExportOptions o;
        std::string error;
        ASSERT_EQ(ExportOptions::parse({"--range", c.range, "d.KLF"}, o, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find("from -150 to 0"), std::string::npos) << error;
        }
    }
}

} // namespace
