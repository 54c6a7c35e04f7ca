#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-rec-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }

    const std::filesystem::path& Path() const { return m_path; }
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

inline std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sentences of a capture as the port hands them over: each up to and including its LF,
// header comments left out.
inline std::vector<std::string> CaptureLines(const std::string& name)
{
    const std::string bytes = ReadBytes(std::filesystem::path(ORVANE_CORPUS_DIR) / name);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size())
    {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end + 1;
        if (bytes[start] != '#')
            lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}
