// klf-report: does a channel cover an area, and how sure are we. Tiles of
// the coverage grid tested against a threshold, the share that passes with
// its Wilson bounds, and the verdict, as HTML, PDF, JSON, GeoPackage and GPX.
// See klf-report --help; the work is ReportRun's.

#include "DriveToolMain.h"
#include "ReportOptions.h"
#include "ReportRun.h"

int main(int argc, char** argv)
{
    return DriveToolMain::run<ReportOptions>({"klf-report", TAVRIX_VERSION, DriveToolMain::OnBadUsage::PointToHelp},
                                             argc, argv, &ReportRun::run);
}
