#pragma once

#include "discovery/PortDiscovery.h"

#include <string>
#include <vector>

// The setup form's port list without its widgets: the entries in the order shown, which one is
// selected, whether it was chosen or only shown, and what a new enumeration keeps. Names and
// labels are compared with letter case ignored unless said otherwise. An operation that returns
// true has made the selected port the one to hand to the frame.
class CPortList
{
public:
    struct Entry
    {
        std::wstring name;       // what the frame opens and Save stores
        std::wstring kernelName; // ttyACM0, for old settings
        std::wstring label;      // what the list shows
        bool bTyped = false;     // typed or from the settings: no enumeration lists it
        bool operator==(const Entry&) const = default;
    };
    enum class TypedOutcome
    {
        Unchanged, // the field holds the selected entry's label or name
        Chosen,    // an entry now selected and chosen
        Dropped,   // not a port: the field should show the selected entry again
    };

    const std::vector<Entry>& Entries() const { return m_entries; }
    // -1 for none.
    int Selected() const { return m_nSelected; }
    // Empty when nothing is selected.
    std::wstring SelectedName() const;
    std::wstring SelectedLabel() const;
    // Chosen by the user, the settings or the receiver lookup, not just the list's first entry.
    bool IsChosen() const { return m_bChosen; }

    // The ports listed afresh (in any order) and the receiver's port name (empty for none): the
    // receiver's entry is chosen, else the first entry is shown without being chosen.
    bool Rescan(const std::vector<PortInfo>& ports, const std::wstring& receiver);
    // The ports again after devices came or went: the chosen port stays chosen, also under the
    // by-id name udev gives it a moment later, and is chosen again when it comes back; a typed
    // port stays while selected. A receiver that has just appeared is chosen when no port is,
    // unless bConnected (the port in use is the choice then).
    bool Refresh(const std::vector<PortInfo>& ports, const std::wstring& receiver, bool bConnected);
    // Start-up: the saved port selects the first entry it prefixes (older settings hold the
    // kernel name of what is now a by-id entry). With bTypedPorts a device path or network
    // source is selected as it is, added when not listed (a receiver not plugged in yet).
    // The selection is handed on whatever it is.
    void ChooseSaved(const std::wstring& port, bool bTypedPorts);
    // The user picked the entry; false for an index out of range.
    bool Choose(int index);
    // The list moved its selection by itself: shown, the choice left as it was.
    void Select(int index);
    // A name typed into the port field: an entry's label or name chooses that entry; a device
    // path (from '/') or a network source (gpsd://, tcp://, udp://) is added and chosen.
    TypedOutcome Type(const std::wstring& text);

private:
    void Fill(const std::vector<PortInfo>& ports);
    // Inserts keeping the entries in order of their labels; returns the index.
    int Add(const PortInfo& port, bool bTyped);
    int AddTyped(const std::wstring& name);
    // The entry whose port name or else kernel name is name; -1 for none and for an empty name.
    int Find(const std::wstring& name) const;
    // The first entry whose label, port name or kernel name begins with prefix; -1 for none.
    int FindPrefix(const std::wstring& prefix) const;
    void ChooseSelected(int index);

    std::vector<Entry> m_entries;
    int m_nSelected = -1;
    bool m_bChosen = false;
    // The port name of the last entry chosen, to choose it again when it comes back.
    std::wstring m_strChosen;
};
