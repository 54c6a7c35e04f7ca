#include "recording/TrackFile.h"

bool TrackFile::Open(const std::wstring& path, TrackLayout layout, bool createNew)
{
    m_layout = std::move(layout);
    m_nEntries = 0;
    m_nTailAt = static_cast<off_t>(m_layout.head.size());
    if (!m_file.Open(path, createNew))
        return false;
    if (m_file.Append(m_layout.head + m_layout.emptyTail) && m_file.Sync())
        return true;
    // An empty file is no document; the failure's reason stays the one kept.
    m_file.Truncate(0);
    m_file.Close();
    return false;
}

bool TrackFile::Add(std::string_view entry)
{
    if (!m_file.IsOpen())
        return false;
    m_strBuffer.clear();
    if (m_nEntries == 0)
        m_strBuffer += m_layout.open;
    m_strBuffer += entry;
    m_strBuffer += m_layout.tail;
    if (m_file.WriteAt(m_nTailAt, m_strBuffer))
    {
        m_nTailAt += static_cast<off_t>(m_strBuffer.size() - m_layout.tail.size());
        ++m_nEntries;
        // A failed sync is the medium's loss, reported like a failed write.
        return m_file.SyncIfDue();
    }
    // The space the old closing text took is the file's already: writing it back there fits
    // even on a full disk.
    const std::string& tail = m_nEntries > 0 ? m_layout.tail : m_layout.emptyTail;
    m_file.WriteAt(m_nTailAt, tail);
    m_file.Truncate(m_nTailAt + static_cast<off_t>(tail.size()));
    return false;
}
