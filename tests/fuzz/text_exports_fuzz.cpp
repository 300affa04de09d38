// Every export that takes a text, fed arbitrary bytes: the input picks an
// export, then fills its texts, numbers and prices (NaN and infinities
// included). Nothing may crash, hang or let an exception out; the events
// queued on the way are dropped after each input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/manager_handle.h"
#include "corvex/tracking.h"
#include "queue/queue_manager.h"
#include "reliability/export_addresses.h"

using namespace Corvex::Tracking::Testing;
using Corvex::Tracking::managerOf;

namespace {

// The exports with at least one text, apart from the lifecycle ones that
// would end the shared record or manager.
std::vector<ExportEntry> textExports() {
    std::vector<ExportEntry> chosen;
    for (const ExportEntry& entry : linkedExports()) {
        if (argumentKinds(entry.shape).find('S') != std::string::npos) chosen.push_back(entry);
    }
    return chosen;
}

struct Shared {
    InitializationData* record = InitializationData_Create();
    TrackingManager* manager = nullptr;
    std::vector<ExportEntry> exports = textExports();

    Shared() {
        InitializationData_SetEnableSave(record, 0);
        InitializationData_SetCustomConfigId(record, 1);
        manager = TrackingManager_Create("fuzz", "fuzz", record);
    }
};

Shared& shared() {
    static Shared instance;
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Shared& s = shared();
    const ExportEntry& entry =
        s.exports[in.ConsumeIntegralInRange<size_t>(0, s.exports.size() - 1)];
    const std::string kinds = argumentKinds(entry.shape);
    std::vector<std::string> texts;
    texts.reserve(kinds.size());
    std::vector<ExportArgument> arguments;
    for (char kind : kinds) {
        ExportArgument argument;
        switch (kind) {
            case 'D': argument.pointer = s.record; break;
            case 'H': argument.pointer = s.manager; break;
            case 'S':
                // A null text now and then; otherwise bytes up to the NUL.
                if (in.ConsumeIntegralInRange(0, 15) != 0) {
                    texts.push_back(in.ConsumeRandomLengthString(4096));
                    argument.text = texts.back().c_str();
                }
                break;
            case 'I': argument.number = in.ConsumeIntegral<int32_t>(); break;
            case 'F': {
                const uint32_t bits = in.ConsumeIntegral<uint32_t>();
                std::memcpy(&argument.price, &bits, sizeof bits);
                break;
            }
        }
        arguments.push_back(argument);
    }
    if (entry.name == "TrackingManager_Create") {
        // Whatever the record holds, the manager made here touches no disk.
        InitializationData_SetEnableSave(s.record, 0);
    }
    try {
        void* result = callExport(entry, arguments);
        if (resultKind(entry.shape) == 'H')
            TrackingManager_Destroy(static_cast<TrackingManager*>(result));
    } catch (...) {
        std::abort();  // an exception came out of the C interface
    }
    auto& queue = managerOf(s.manager)->queue();
    queue.retireOldest(queue.pendingCount());
    return 0;
}
