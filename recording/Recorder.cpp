#include "recording/Recorder.h"

#include "recording/GpxTrackWriter.h"
#include "recording/KmlTrackWriter.h"
#include "recording/LogFile.h"

namespace
{
class LogRecorder final : public Recorder
{
public:
    LogRecorder(FileCalls calls, bool raw) : m_log(std::move(calls)), m_bRaw(raw) {}

    bool Start(const std::wstring& path, bool createNew, const GpsData&) override
    {
        return m_log.Open(path, createNew);
    }
    bool Add(std::string_view line, const GpsData&, EpochMarks) override { return m_log.Write(line); }
    bool Sync() override { return m_log.Sync(); }
    bool Finish() override { return m_log.Close(); }
    bool UsesRecords() const override { return false; }
    bool Takes(FrameKind kind) const override { return m_bRaw || kind == FrameKind::Nmea; }
    long long Written() const override { return m_log.Size(); }
    const std::wstring& Path() const override { return m_log.GetPath(); }
    int LastError() const override { return m_log.GetLastError(); }

private:
    LogFile m_log;
    const bool m_bRaw;
};

// A point per fix epoch, for either track writer.
template <class Writer>
class TrackRecorder final : public Recorder
{
public:
    explicit TrackRecorder(FileCalls calls) : m_writer(std::move(calls)) {}

    bool Start(const std::wstring& path, bool createNew, const GpsData& known) override
    {
        m_last = known;
        m_bEpochSeen = false;
        m_bFailed = false;
        return m_writer.Open(path, createNew);
    }
    // An epoch is a point when its beginning came after the start: the one under way then
    // may still hold an earlier source's fix.
    bool Add(std::string_view, const GpsData& after, EpochMarks marks) override
    {
        const bool ok = !(marks.began && m_bEpochSeen) || Point(m_last);
        m_bEpochSeen = m_bEpochSeen || marks.began;
        m_last = after;
        return ok;
    }
    bool Sync() override
    {
        m_bFailed = m_bFailed || !m_writer.Sync();
        return !m_bFailed;
    }
    bool Finish() override
    {
        const bool last = m_bFailed || !m_bEpochSeen || Point(m_last);
        m_bEpochSeen = false;
        return m_writer.Finish() && last;
    }
    long long Written() const override { return m_writer.PointCount(); }
    const std::wstring& Path() const override { return m_writer.GetPath(); }
    int LastError() const override { return m_writer.GetLastError(); }

private:
    bool Point(const GpsData& epoch)
    {
        if (!m_bFailed && HasFixedPosition(epoch))
            m_bFailed = !m_writer.AddPoint(epoch);
        return !m_bFailed;
    }

    Writer m_writer;
    // The record after the last line: at an epoch's end, the epoch as it ended.
    GpsData m_last{};
    bool m_bEpochSeen = false;
    bool m_bFailed = false;
};
} // namespace

std::unique_ptr<Recorder> MakeRecorder(RecordKind kind, FileCalls calls)
{
    switch (kind)
    {
    case RecordKml:
        return std::make_unique<TrackRecorder<KmlTrackWriter>>(std::move(calls));
    case RecordGpx:
        return std::make_unique<TrackRecorder<GpxTrackWriter>>(std::move(calls));
    case RecordRaw:
        return std::make_unique<LogRecorder>(std::move(calls), true);
    default:
        return std::make_unique<LogRecorder>(std::move(calls), false);
    }
}

const wchar_t* ExtensionOf(RecordKind kind)
{
    switch (kind)
    {
    case RecordKml:
        return L".kml";
    case RecordGpx:
        return L".gpx";
    case RecordRaw:
        return L".ubx";
    default:
        return L".txt";
    }
}
