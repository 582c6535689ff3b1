// klf-coverage: .KLF logs binned into a coverage map per channel, in a
// GeoPackage or a PostGIS database. See klf-coverage --help; the work is
// CoverageRun's.

#include "CoverageOptions.h"
#include "CoverageRun.h"
#include "DriveToolMain.h"

int main(int argc, char** argv)
{
    return DriveToolMain::run<CoverageOptions>({"klf-coverage", TAVRIX_VERSION, DriveToolMain::OnBadUsage::ShowUsage},
                                               argc, argv, &CoverageRun::run);
}
