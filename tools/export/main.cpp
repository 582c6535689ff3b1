// klf-export: a .KLF log as CSV, GeoJSON, GPX or KML, for spreadsheets, GIS
// tools and Google Earth. See klf-export --help; the work is ExportRun's.

#include "DriveToolMain.h"
#include "ExportOptions.h"
#include "ExportRun.h"

int main(int argc, char** argv)
{
    return DriveToolMain::run<ExportOptions>({"klf-export", TAVRIX_VERSION, DriveToolMain::OnBadUsage::ShowUsage}, argc,
                                             argv, &ExportRun::run);
}
