// The properties file: one compact JSON object and a line feed, kept in the
// save folder from one run to the next.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace Corvex::Tracking {

class Storage {
public:
    // Replaces the file at path with contents; false when nothing was written.
    // Tests pass their own to hold or fail the write.
    using Writer = std::function<bool(const std::string& path, const std::string& contents)>;

    // A null writer writes through the platform layer.
    explicit Storage(std::string folder, Writer writer = nullptr);

    void setFileName(std::string name);
    // The folder, the native path separator, and the file name.
    std::string filePath() const;

    // Reads the file; a missing, empty or unparsable file leaves the
    // document empty.
    void load();
    // Writes the document when a value changed since the last load. The new
    // file is written beside the old one and moved over it, so a crash never
    // leaves a torn file. False when nothing could be written.
    bool save();

    // The string under the key, or "" when the document holds none there.
    std::string getString(const std::string& key) const;
    // Sets the key; other members stay. A document that is not an object is
    // replaced by a new object.
    void setString(const std::string& key, const std::string& value);

private:
    std::string folder;
    Writer writer;
    std::string fileName = ".storage";
    nlohmann::json document;
    bool dirty = false;
};

}  // namespace Corvex::Tracking
