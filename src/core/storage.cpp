#include "core/storage.h"

#include "base/json_nesting.h"
#include "platform/platform.h"

namespace Corvex::Tracking {

using nlohmann::json;

Storage::Storage(std::string folderPath, Writer fileWriter)
    : folder(std::move(folderPath)),
      writer(fileWriter ? std::move(fileWriter) : Writer(Platform::replaceFileContents)) {}

void Storage::setFileName(std::string name) {
    fileName = std::move(name);
}

std::string Storage::filePath() const {
    return folder + Platform::PATH_SEPARATOR + fileName;
}

void Storage::load() {
    dirty = false;
    document = json();
    std::string bytes;
    if (!Platform::readWholeFile(filePath(), bytes) || bytes.empty()) return;
    // A document nested too deeply to be written again counts as unparsable.
    if (nestsTooDeep(bytes)) return;
    // Whitespace around the value is allowed and a UTF-8 byte order mark is
    // skipped; comments are not.
    json parsed = json::parse(bytes, nullptr, false);
    if (!parsed.is_discarded()) document = std::move(parsed);
}

bool Storage::save() {
    if (!dirty) return true;
    std::string contents;
    try {
        contents = document.dump() + "\n";
    } catch (const json::exception&) {
        return false;  // nothing valid to write
    }
    if (!writer(filePath(), contents)) return false;
    dirty = false;
    return true;
}

std::string Storage::getString(const std::string& key) const {
    if (!document.is_object()) return "";
    const auto it = document.find(key);
    if (it == document.end() || !it->is_string()) return "";
    return it->get<std::string>();
}

void Storage::setString(const std::string& key, const std::string& value) {
    if (document.is_object()) {
        const auto it = document.find(key);
        if (it != document.end() && it->is_string() && it->get_ref<const std::string&>() == value) {
            return;
        }
    } else {
        document = json::object();
    }
    document[key] = value;
    dirty = true;
}

}  // namespace Corvex::Tracking
