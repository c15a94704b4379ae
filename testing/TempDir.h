#pragma once
// A temporary folder for one test, removed with everything in it when the object goes.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tandrel::testing {

/// A fresh folder under the system's temporary folder. Throws std::runtime_error
/// when it cannot be made; removed with its contents on destruction.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tandrel-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const { return FPath; }

    /// Writes Text into the file Name of the folder; returns the file's full name.
    std::string Write(const std::string& Name, const std::string& Text) const {
        const auto file = FPath / Name;
        std::ofstream(file, std::ios::binary) << Text;
        return file.string();
    }

private:
    std::filesystem::path FPath;
};

}  // namespace tandrel::testing
