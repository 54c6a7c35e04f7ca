#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// A fresh folder under the system's temporary folder, named after `prefix` and removed with
// everything in it. Path() is empty if the folder could not be made.
class TempFolder
{
public:
    explicit TempFolder(const std::string& prefix = "orvane-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // A file in the folder, named the way the code under test takes paths.
    std::wstring File(const std::string& name) const { return (m_path / name).wstring(); }
    std::vector<std::filesystem::path> Entries() const
    {
        std::vector<std::filesystem::path> entries;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            entries.push_back(entry.path());
        return entries;
    }

private:
    std::filesystem::path m_path;
};
