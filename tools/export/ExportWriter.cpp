#include "ExportWriter.h"

const char* ExportWriter::modeName(SampleMode mode)
{
    switch (mode) {
    case SampleMode::Single: return "single";
    case SampleMode::Scan: return "scan";
    case SampleMode::Table: return "table";
    }
    return "";
}
