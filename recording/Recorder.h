#pragma once

#include "gps/GpsData.h"
#include "util/ExclusiveFile.h"

#include <memory>
#include <string>
#include <string_view>

enum RecordKind
{
    RecordNmea = 0,
    RecordKml = 1,
    RecordGpx = 2,
    RecordRaw = 3
};

// One recording, whatever its kind: the NMEA log keeps every line; the raw log every frame,
// binary and NMEA, byte for byte; the tracks keep one point per fix epoch, with the values that
// epoch ended with. The window and orvane-nmea record
// through these, so the same lines make the same file.
class Recorder
{
public:
    virtual ~Recorder() = default;

    // Creates the file; with `createNew`, only one this call creates (a taken name fails with
    // EEXIST). `known` is the record as it stands at the start: a track's first point is the
    // first epoch that begins after it. On false, LastError says why and nothing is written.
    virtual bool Start(const std::wstring& path, bool createNew, const GpsData& known) = 0;
    // One checksum-valid line as received, the record right after it, and where the reader
    // found it in the epochs. False when the file could not be written; it then keeps what it
    // held.
    virtual bool Add(std::string_view line, const GpsData& after, EpochMarks marks) = 0;
    // Syncs what is written and not yet synced; false, and still unsynced, when that failed.
    virtual bool Sync() = 0;
    // Completes the file (a track adds the epoch under way) and closes it. After a failed
    // write nothing more is tried on that disk: it only closes.
    virtual bool Finish() = 0;

    // Whether Add is to be given frames of that kind: the NMEA log takes text only.
    virtual bool Takes(FrameKind kind) const { return kind == FrameKind::Nmea || UsesRecords(); }
    // False when Add ignores the record (a log keeps only the text), so that a queue in front
    // of it need not copy records.
    virtual bool UsesRecords() const { return true; }

    // Points in a track's file, bytes in a log's.
    virtual long long Written() const = 0;
    virtual const std::wstring& Path() const = 0;
    // errno of the last failure, 0 if none.
    virtual int LastError() const = 0;
};

std::unique_ptr<Recorder> MakeRecorder(RecordKind kind, FileCalls calls = {});
// ".txt", ".kml", ".gpx" or ".ubx".
const wchar_t* ExtensionOf(RecordKind kind);
