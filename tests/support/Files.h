#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The whole file as bytes; empty if it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a capture as the port hands them over: each up to and including its LF, the
// comment lines of its header left out.
inline std::vector<std::string> DataLines(const std::string& bytes)
{
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

// Every receiver capture of the corpus (*.nmea), in name order.
inline std::vector<std::filesystem::path> CaptureFiles()
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(ORVANE_CORPUS_DIR))
    {
        if (entry.path().extension() == ".nmea")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// DataLines of a receiver capture from the corpus.
inline std::vector<std::string> CaptureLines(const std::string& name)
{
    return DataLines(ReadFile(std::filesystem::path(ORVANE_CORPUS_DIR) / name));
}
