// The export table with the addresses of the functions this program links
// (the static library), for tests and fuzz targets that run in one process.
#pragma once

#include <vector>

#include "reliability/export_table.h"

namespace Corvex::Tracking::Testing {

// Every export of the table with its linked address.
std::vector<ExportEntry> linkedExports();

}  // namespace Corvex::Tracking::Testing
