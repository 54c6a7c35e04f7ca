#pragma once

#include <string>
#include <vector>

// The layout of a recorded track, written out independently of libkml: each line with its
// indentation, one coordinate text per point.
inline std::string ExpectedKml(const std::vector<std::string>& points)
{
    std::string text = "<kml>\n"
                       "  <Document>\n"
                       "    <Folder>\n"
                       "      <Placemark>\n"
                       "        <name>test</name>\n"
                       "        <Style>\n"
                       "          <LineStyle>\n"
                       "            <color>ffff0000</color>\n"
                       "            <width>4</width>\n"
                       "          </LineStyle>\n"
                       "        </Style>\n"
                       "        <LineString>\n";
    if (points.empty())
        text += "          <coordinates/>\n";
    else
    {
        text += "          <coordinates>\n";
        for (const std::string& point : points)
            text += "            " + point + "\n";
        text += "          </coordinates>\n";
    }
    text += "        </LineString>\n"
            "      </Placemark>\n"
            "    </Folder>\n"
            "  </Document>\n"
            "</kml>\n";
    return text;
}
