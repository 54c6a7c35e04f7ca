#pragma once

#include "util/ExclusiveFile.h"

#include <string>
#include <string_view>

// A document that grows by one entry at a time and is complete on disk after every write: the
// closing text always follows the last entry, and the next entry is written over it, with the
// closing text after it again, in one write. Until the first entry the file holds the
// document's empty form, whose closing text may differ (KML's self-closing element).
struct TrackLayout
{
    std::string head;      // everything before the entries (or the empty form's end)
    std::string emptyTail; // what follows the head while there are no entries
    std::string open;      // written once, before the first entry
    std::string tail;      // what follows the last entry
};

class TrackFile
{
public:
    TrackFile() = default;
    explicit TrackFile(FileCalls calls) : m_file(std::move(calls)) {}

    // Opens the file (see ExclusiveFile::Open) and writes the empty document.
    bool Open(const std::wstring& path, TrackLayout layout, bool createNew = false);
    bool IsOpen() const { return m_file.IsOpen(); }
    // Writes one entry; on failure the file is put back as it was before (the previous entries
    // and the closing text), and false is returned.
    bool Add(std::string_view entry);
    // Syncs what is written and not yet synced.
    bool Sync() { return !m_file.IsDirty() || m_file.Sync(); }
    // Syncs and closes: the file already holds the finished document.
    bool Finish() { return m_file.Close(); }

    long long EntryCount() const { return m_nEntries; }
    const std::wstring& GetPath() const { return m_file.GetPath(); }
    int GetLastError() const { return m_file.GetLastError(); }
    ExclusiveFile& File() { return m_file; }

private:
    ExclusiveFile m_file;
    TrackLayout m_layout;
    std::string m_strBuffer;
    off_t m_nTailAt = 0;
    long long m_nEntries = 0;
};
