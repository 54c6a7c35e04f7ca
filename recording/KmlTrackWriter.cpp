#include "recording/KmlTrackWriter.h"

#include "util/FileIo.h"
#include "util/WideText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <kml/dom.h>

KmlTrackWriter::KmlTrackWriter()
    : m_pFactory(kmldom::KmlFactory::GetFactory())
{
}

KmlTrackWriter::~KmlTrackWriter()
{
    CloseFile();
}

void KmlTrackWriter::CloseFile()
{
    if (m_nFile >= 0)
        ::close(m_nFile);
    m_nFile = -1;
}

bool KmlTrackWriter::Open(const std::wstring& path)
{
    CloseFile();
    try
    {
        m_strPath = path;
        m_pDocument = m_pFactory->CreateDocument();
        m_pFolder = m_pFactory->CreateFolder();
        m_pCoordinates = m_pFactory->CreateCoordinates();

        // O_NONBLOCK only so that a FIFO in the file's place fails instead of hanging.
        const int fd = ::open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                              0644);
        if (fd < 0)
            return false;
        // Truncated only once the lock is ours: a file another writer holds stays whole.
        struct stat info{};
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 ||
            (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) ||
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        {
            ::close(fd);
            return false;
        }
        m_nFile = fd;
        return true;
    }
    catch (...)
    {
        return false;
    }
}

void KmlTrackWriter::AddPoint(const GpsData& gps)
{
    // A writer without a file writes nothing, so it need not collect either.
    if (m_nFile < 0 || !m_pCoordinates)
        return;
    try
    {
        m_pCoordinates->add_latlngalt(gps.latitude, gps.longitude, gps.altitude);
    }
    catch (...)
    {
        // Out of memory: the track keeps what it has.
    }
}

bool KmlTrackWriter::Finish()
{
    if (m_nFile < 0)
        return false;
    bool written = false;
    try
    {
        kmldom::LineStringPtr lineString = m_pFactory->CreateLineString();
        lineString->set_coordinates(m_pCoordinates);

        kmldom::LineStylePtr lineStyle = m_pFactory->CreateLineStyle();
        lineStyle->set_width(4.0);
        lineStyle->set_color(kmlbase::Color32(0xffff0000));
        kmldom::StylePtr style = m_pFactory->CreateStyle();
        style->set_linestyle(lineStyle);

        kmldom::PlacemarkPtr placemark = m_pFactory->CreatePlacemark();
        placemark->set_name("test");
        placemark->set_styleselector(style);
        placemark->set_geometry(lineString);

        m_pFolder->add_feature(placemark);
        m_pDocument->add_feature(m_pFolder);
        kmldom::KmlPtr kml = m_pFactory->CreateKml();
        kml->set_feature(m_pDocument);

        const std::string text = kmldom::SerializePretty(kml);
        written = WriteAll(m_nFile, text);
        // A removed medium or a full remote disk may only tell at the flush.
        if (written && ::fsync(m_nFile) != 0 && errno != EINVAL)
            written = false;
    }
    catch (...)
    {
        written = false;
    }
    const bool closed = ::close(m_nFile) == 0;
    m_nFile = -1;
    return written && closed;
}
