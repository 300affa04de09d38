// Arbitrary bytes as the properties file: loading never fails, the stored id
// is read when the file holds one, and setting a new id writes a file that
// loads back with that id and with every other member the file had.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/storage.h"

using Corvex::Tracking::Storage;
using nlohmann::json;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// In memory where the system offers it: each input writes the file twice.
std::filesystem::path folderPath() {
    const std::filesystem::path shared = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(shared) ? shared : std::filesystem::temp_directory_path();
    return base / ("corvex_properties_fuzz_" + std::to_string(::getpid()));
}

std::string folder() {
    static const bool made = [] {
        std::filesystem::create_directories(folderPath());
        std::atexit([] { std::filesystem::remove_all(folderPath()); });
        return true;
    }();
    (void)made;
    return folderPath().string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Storage storage(folder());
    storage.setFileName(".properties");
    std::ofstream(storage.filePath(), std::ios::binary | std::ios::trunc) << bytes;

    storage.load();
    const json parsed = json::parse(bytes, nullptr, false);
    const std::string stored = storage.getString("userId");
    if (!parsed.is_discarded() && parsed.is_object() && parsed.contains("userId") &&
        parsed["userId"].is_string()) {
        check(stored == parsed["userId"].get<std::string>());
    } else {
        check(stored.empty());
    }

    const std::string newId = "id-" + std::to_string(size);
    storage.setString("userId", newId);
    check(storage.save());
    Storage reloaded(folder());
    reloaded.setFileName(".properties");
    reloaded.load();
    check(reloaded.getString("userId") == newId);
    // Other members of an object survive the rewrite.
    if (!parsed.is_discarded() && parsed.is_object()) {
        std::ifstream in(storage.filePath(), std::ios::binary);
        const json written = json::parse(in, nullptr, false);
        check(written.is_object() &&
              written.size() == parsed.size() + (parsed.contains("userId") ? 0 : 1));
    }
    return 0;
}
