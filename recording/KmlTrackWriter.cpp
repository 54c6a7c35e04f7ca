#include "recording/KmlTrackWriter.h"

#include <kml/dom.h>

#include <charconv>
#include <mutex>

namespace
{
const std::string kEmptyCoordinates = "          <coordinates/>\n";
const std::string kOpenCoordinates = "          <coordinates>\n";

// The whole document as libkml writes it, around the given coordinates.
std::string Serialize(const kmldom::CoordinatesPtr& coordinates)
{
    kmldom::KmlFactory* factory = kmldom::KmlFactory::GetFactory();
    kmldom::LineStringPtr lineString = factory->CreateLineString();
    lineString->set_coordinates(coordinates);

    kmldom::LineStylePtr lineStyle = factory->CreateLineStyle();
    lineStyle->set_width(4.0);
    lineStyle->set_color(kmlbase::Color32(0xffff0000));
    kmldom::StylePtr style = factory->CreateStyle();
    style->set_linestyle(lineStyle);

    kmldom::PlacemarkPtr placemark = factory->CreatePlacemark();
    placemark->set_name("test");
    placemark->set_styleselector(style);
    placemark->set_geometry(lineString);

    kmldom::FolderPtr folder = factory->CreateFolder();
    folder->add_feature(placemark);
    kmldom::DocumentPtr document = factory->CreateDocument();
    document->add_feature(folder);
    kmldom::KmlPtr kml = factory->CreateKml();
    kml->set_feature(document);
    return kmldom::SerializePretty(kml);
}

// The text around the points, cut out of libkml's own output for no point and for one, so
// that the growing file is what the serialiser would write for the points so far.
bool BuildLayout(TrackLayout& layout)
{
    kmldom::KmlFactory* factory = kmldom::KmlFactory::GetFactory();
    const std::string empty = Serialize(factory->CreateCoordinates());
    kmldom::CoordinatesPtr one = factory->CreateCoordinates();
    GpsData origin{};
    one->add_latlngalt(origin.latitude, origin.longitude, origin.altitude);
    const std::string single = Serialize(one);

    const std::size_t emptyAt = empty.find(kEmptyCoordinates);
    const std::size_t openAt = single.find(kOpenCoordinates);
    const std::string point = KmlTrackWriter::PointLine(origin);
    if (emptyAt == std::string::npos || openAt != emptyAt ||
        single.compare(0, openAt, empty, 0, emptyAt) != 0 ||
        single.compare(openAt + kOpenCoordinates.size(), point.size(), point) != 0)
        return false;
    layout.head = empty.substr(0, emptyAt);
    layout.emptyTail = empty.substr(emptyAt);
    layout.open = kOpenCoordinates;
    layout.tail = single.substr(openAt + kOpenCoordinates.size() + point.size());
    return true;
}

void AppendNumber(std::string& text, double value)
{
    char digits[32];
    // The serialiser's form: %.15g, independent of the process's locale.
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 15);
    text.append(digits, result.ptr);
}
} // namespace

std::string KmlTrackWriter::PointLine(const GpsData& gps)
{
    std::string line(12, ' ');
    // libkml's own form, so the growing file stays what its serialiser writes; from doubles it
    // carries every digit the receiver sent and no single-precision noise.
    AppendNumber(line, gps.longitude);
    line += ',';
    AppendNumber(line, gps.latitude);
    line += ',';
    AppendNumber(line, gps.altitude);
    line += '\n';
    return line;
}

bool KmlTrackWriter::Open(const std::wstring& path, bool createNew)
{
    // The layout is the same for every track; libkml's factory is made once per process.
    static TrackLayout layout;
    static bool built = false;
    static std::once_flag once;
    try
    {
        std::call_once(once, [] { built = BuildLayout(layout); });
    }
    catch (...)
    {
        return false;
    }
    return built && m_file.Open(path, layout, createNew);
}

bool KmlTrackWriter::AddPoint(const GpsData& gps)
{
    try
    {
        return m_file.Add(PointLine(gps));
    }
    catch (...)
    {
        // Out of memory: the file keeps what it has.
        return false;
    }
}

bool KmlTrackWriter::Finish()
{
    if (!m_file.IsOpen())
        return false;
    return m_file.Finish();
}
