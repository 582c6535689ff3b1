#pragma once

#include "drive/DriveFix.h"
#include "drive/DriveSample.h"

// Receives a drive as DriveReader reads it.
//
// Order: a sample is handed over once its placement is known, so samples
// recorded between two used fixes arrive just before the second of them;
// a used fix therefore always follows every sample recorded before it. Fixes
// that are not used arrive when they are read. Samples after the last used
// fix arrive, unplaced, at the end.
class DriveSink
{
public:
    virtual ~DriveSink() = default;
    virtual void fix(const DriveFix&) {}
    virtual void sample(const DriveSample&) {}
};
