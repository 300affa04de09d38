// A fresh folder under the system's temporary folder, removed afterwards.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace Corvex::Tracking::Testing {

class TempFolder {
public:
    explicit TempFolder(const std::string& name) {
        static std::atomic<int> counter{0};
        folder = std::filesystem::temp_directory_path() /
                 ("corvex_" + name + "_" + std::to_string(::getpid()) + "_" +
                  std::to_string(counter++));
        std::filesystem::remove_all(folder);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string path() const { return folder.string(); }
    std::string file(const std::string& name) const { return (folder / name).string(); }

private:
    std::filesystem::path folder;
};

}  // namespace Corvex::Tracking::Testing
