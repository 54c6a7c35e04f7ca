#pragma once

// The peers that read what Orvane writes (GPSBabel, GDAL's ogrinfo, xmllint), run as programs.
// Each is optional: a test asks HaveTool first and skips without it (scripts/deps.sh installs
// them).

#include "support/Child.h"

#include <filesystem>
#include <string>

using ToolResult = RunResult;

inline ToolResult RunTool(const std::string& command)
{
    return RunShell(command);
}

inline bool HaveTool(const std::string& name)
{
    return OnPath(name);
}

inline std::string Quoted(const std::filesystem::path& path)
{
    std::string text = "'";
    for (char c : path.string())
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

// Track points GPSBabel reads from the file (`format`: gpx or kml), -1 when it refuses it.
inline int GpsbabelPointCount(const std::filesystem::path& path, const std::string& format)
{
    const ToolResult result = RunTool("gpsbabel -t -i " + format + " -f " + Quoted(path) + " -o unicsv -F -");
    if (result.status != 0)
        return -1;
    int lines = 0;
    for (char c : result.output)
        lines += c == '\n' ? 1 : 0;
    // The first line names the columns; an empty track gives no output at all.
    return lines > 0 ? lines - 1 : 0;
}

// Points GDAL reads: the GPX driver's track points, or the vertices of the KML line.
inline int OgrPointCount(const std::filesystem::path& path, const std::string& format)
{
    if (format == "gpx")
    {
        const ToolResult result = RunTool("ogrinfo -ro -al " + Quoted(path) + " track_points");
        if (result.status != 0)
            return -1;
        int count = 0;
        for (std::size_t at = result.output.find("POINT"); at != std::string::npos;
             at = result.output.find("POINT", at + 1))
            ++count;
        return count;
    }
    const ToolResult result = RunTool("ogrinfo -ro -al " + Quoted(path));
    if (result.status != 0)
        return -1;
    const std::size_t line = result.output.find("LINESTRING");
    if (line == std::string::npos)
        return result.output.find("Feature Count") != std::string::npos ? 0 : -1;
    const std::size_t open = result.output.find('(', line);
    const std::size_t close = result.output.find(')', open);
    if (open == std::string::npos || close == std::string::npos)
        return 0; // LINESTRING EMPTY
    int count = 1;
    for (std::size_t i = open; i < close; ++i)
        count += result.output[i] == ',' ? 1 : 0;
    return count;
}

// xmllint's verdict against the GPX 1.1 schema; the output holds its complaints.
inline ToolResult ValidateGpx(const std::filesystem::path& path)
{
    const std::filesystem::path schema = std::filesystem::path(ORVANE_SOURCE_DIR) / "../shared/data/gpx-1.1.xsd";
    return RunTool("xmllint --noout --schema " + Quoted(schema) + " " + Quoted(path));
}
