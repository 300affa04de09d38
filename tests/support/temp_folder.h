// A folder under the system's temporary folder, named apart from every other
// one of the process, and removed with what it holds afterwards.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace Corvex::Tracking::Testing {

class TempFolder {
public:
    // Later leaves the folder absent, for the code under test to make.
    enum class Create { Later, Now };

    explicit TempFolder(const std::string& name, Create when = Create::Later) {
        static std::atomic<int> counter{0};
        folder =
            std::filesystem::temp_directory_path() /
            ("corvex_" + name + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(folder);
        if (when == Create::Now) create();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Makes the folder and any missing parent.
    void create() const { std::filesystem::create_directories(folder); }
    std::string path() const { return folder.string(); }
    std::string file(const std::string& name) const { return (folder / name).string(); }

private:
    std::filesystem::path folder;
};

}  // namespace Corvex::Tracking::Testing
