#include "settings/PortList.h"

#include "net/SourceAddress.h"

#include <algorithm>
#include <cwctype>
#include <optional>

namespace
{
wchar_t Fold(wchar_t c)
{
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

bool FoldedLess(wchar_t a, wchar_t b)
{
    return Fold(a) < Fold(b);
}

bool FoldedEqual(wchar_t a, wchar_t b)
{
    return Fold(a) == Fold(b);
}

bool SameNoCase(const std::wstring& a, const std::wstring& b)
{
    return std::ranges::equal(a, b, FoldedEqual);
}

bool StartsNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), FoldedEqual);
}

// A port no enumeration lists: a device path (from '/') or a well-formed network source.
bool IsTypedSource(const std::wstring& name)
{
    return name.starts_with(L'/') || ParseSourceAddress(name);
}
} // namespace

std::wstring CPortList::SelectedName() const
{
    return m_nSelected >= 0 ? m_entries[m_nSelected].name : std::wstring();
}

std::wstring CPortList::SelectedLabel() const
{
    return m_nSelected >= 0 ? m_entries[m_nSelected].label : std::wstring();
}

void CPortList::Fill(const std::vector<PortInfo>& ports)
{
    m_entries.clear();
    m_nSelected = -1;
    for (const PortInfo& port : ports)
        Add(port, false);
}

int CPortList::Add(const PortInfo& port, bool bTyped)
{
    Entry entry{port.name, port.kernelName, port.label.empty() ? port.name : port.label, bTyped};
    // After the labels that sort equal: the first listed stays first.
    const auto at = std::ranges::upper_bound(m_entries, entry.label,
                                             [](const std::wstring& a, const std::wstring& b) {
                                                 return std::ranges::lexicographical_compare(a, b, FoldedLess);
                                             },
                                             &Entry::label);
    const int index = static_cast<int>(at - m_entries.begin());
    m_entries.insert(at, std::move(entry));
    if (m_nSelected >= index)
        ++m_nSelected;
    return index;
}

int CPortList::AddTyped(const std::wstring& name)
{
    return Add(PortInfo{name, {}, {}, false}, true);
}

int CPortList::Find(const std::wstring& name) const
{
    if (name.empty())
        return -1;
    for (const auto member : {&Entry::name, &Entry::kernelName})
        for (std::size_t i = 0; i < m_entries.size(); ++i)
            if (SameNoCase(m_entries[i].*member, name))
                return static_cast<int>(i);
    return -1;
}

int CPortList::FindPrefix(const std::wstring& prefix) const
{
    if (prefix.empty())
        return -1;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        for (const std::wstring* text : {&m_entries[i].label, &m_entries[i].name, &m_entries[i].kernelName})
            if (StartsNoCase(*text, prefix))
                return static_cast<int>(i);
    return -1;
}

void CPortList::Select(int index)
{
    m_nSelected = index >= 0 && index < static_cast<int>(m_entries.size()) ? index : -1;
}

void CPortList::ChooseSelected(int index)
{
    Select(index);
    m_bChosen = true;
    m_strChosen = SelectedName();
}

bool CPortList::Choose(int index)
{
    if (index < 0 || index >= static_cast<int>(m_entries.size()))
        return false;
    ChooseSelected(index);
    return true;
}

bool CPortList::Rescan(const std::vector<PortInfo>& ports, const std::wstring& receiver)
{
    Fill(ports);
    if (Choose(Find(receiver)))
        return true;
    Select(m_entries.empty() ? -1 : 0);
    m_bChosen = false;
    return false;
}

bool CPortList::Refresh(const std::vector<PortInfo>& ports, const std::wstring& receiver, bool bConnected)
{
    const std::optional<Entry> old =
        m_nSelected >= 0 ? std::optional<Entry>(m_entries[m_nSelected]) : std::nullopt;
    std::vector<std::wstring> oldNames;
    for (const Entry& entry : m_entries)
        oldNames.push_back(entry.name);

    Fill(ports);

    int index = -1;
    bool bApply = false;
    if (old && !old->name.empty())
    {
        const auto byName = std::ranges::find_if(m_entries, [&](const Entry& e) { return SameNoCase(e.name, old->name); });
        index = byName != m_entries.end() ? static_cast<int>(byName - m_entries.begin()) : -1;
        // What the user typed is in no device list: it stays while it is chosen.
        if (index < 0 && old->bTyped)
            index = Add(PortInfo{old->name, {}, old->label, false}, true);
        // The same device under its new by-id name (udev made the link after the node).
        if (index < 0 && !old->kernelName.empty())
        {
            const auto byKernel = std::ranges::find_if(
                m_entries, [&](const Entry& e) { return SameNoCase(e.kernelName, old->kernelName); });
            index = byKernel != m_entries.end() ? static_cast<int>(byKernel - m_entries.begin()) : -1;
            bApply = index >= 0 && m_bChosen;
        }
    }
    if (!bConnected && (index < 0 || !m_bChosen))
    {
        // Only a receiver that has just appeared: one that was listed all along was not wanted.
        const int found = Find(receiver);
        if (found >= 0 && std::ranges::find(oldNames, m_entries[found].name) == oldNames.end())
            return Choose(found);
        // The chosen device came back after a replug, under the name it was chosen by.
        if (const int back = Find(m_strChosen); back >= 0)
        {
            Select(back);
            m_bChosen = true;
            return true;
        }
    }
    if (index < 0)
    {
        // Shown, not chosen: the frame keeps the port it has until the user picks one.
        index = m_entries.empty() ? -1 : 0;
        m_bChosen = false;
    }
    if (bApply)
        return Choose(index);
    Select(index);
    return false;
}

void CPortList::ChooseSaved(const std::wstring& port, bool bTypedPorts)
{
    if (bTypedPorts && IsTypedSource(port))
    {
        // A receiver saved by its by-id path and not plugged in yet is still the choice.
        const auto same = std::ranges::find(m_entries, port, &Entry::name);
        Select(same != m_entries.end() ? static_cast<int>(same - m_entries.begin()) : AddTyped(port));
        m_bChosen = true;
        m_strChosen = port;
        return;
    }
    if (const int index = FindPrefix(port); index >= 0)
        ChooseSelected(index);
}

CPortList::TypedOutcome CPortList::Type(const std::wstring& text)
{
    if (text == SelectedLabel() || text == SelectedName())
        return TypedOutcome::Unchanged;
    const auto byLabel = std::ranges::find_if(m_entries, [&](const Entry& e) { return SameNoCase(e.label, text); });
    int index = byLabel != m_entries.end() ? static_cast<int>(byLabel - m_entries.begin()) : Find(text);
    if (index < 0 && IsTypedSource(text))
        index = AddTyped(text);
    if (!Choose(index))
        return TypedOutcome::Dropped;
    return TypedOutcome::Chosen;
}
