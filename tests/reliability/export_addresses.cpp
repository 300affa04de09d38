#include "reliability/export_addresses.h"

#include <map>

#include "corvex/tracking.h"

namespace Corvex::Tracking::Testing {

std::vector<ExportEntry> linkedExports() {
    std::map<std::string, void*> addresses;
#define CORVEX_ADDRESS_ENTRY(name, shape) addresses[#name] = reinterpret_cast<void*>(&name);
    CORVEX_EXPORT_TABLE(CORVEX_ADDRESS_ENTRY)
#undef CORVEX_ADDRESS_ENTRY
    std::vector<ExportEntry> entries = exportSignatures();
    for (ExportEntry& entry : entries) entry.function = addresses.at(entry.name);
    return entries;
}

}  // namespace Corvex::Tracking::Testing
