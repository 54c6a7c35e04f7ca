// The setup form's port list without widgets: what each operation selects, whether the
// selection counts as chosen, and whether it is to be handed to the frame.

#include "settings/PortList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
const wchar_t* const kUbloxById = L"/dev/serial/by-id/usb-u-blox_AG_-_www.u-blox.com_u-blox_7-if00";

const PortInfo kSerial{L"ttyS0", L"ttyS0", L"", false};
const PortInfo kAcm0{L"ttyACM0", L"ttyACM0", L"ttyACM0", false};
const PortInfo kUblox{kUbloxById, L"ttyACM0", L"u-blox 7 GNSS receiver (ttyACM0)", true};
const PortInfo kUblox1{kUbloxById, L"ttyACM1", L"u-blox 7 GNSS receiver (ttyACM1)", true};
const PortInfo kUsb{L"ttyUSB0", L"ttyUSB0", L"Prolific USB-to-Serial (ttyUSB0)", false};

std::vector<std::wstring> Labels(const CPortList& list)
{
    std::vector<std::wstring> labels;
    for (const CPortList::Entry& entry : list.Entries())
        labels.push_back(entry.label);
    return labels;
}
} // namespace

TEST(PortList, EntriesAreInLabelOrderLetterCaseIgnoredTheFirstListedFirst)
{
    CPortList list;
    list.Rescan({{L"b", L"", L"COM2", false}, {L"c", L"", L"com10", false}, {L"a", L"", L"", false},
                 {L"d", L"", L"COM10", false}},
                L"");
    EXPECT_EQ(Labels(list), (std::vector<std::wstring>{L"a", L"com10", L"COM10", L"COM2"}));
    EXPECT_EQ(list.Entries()[1].name, L"c");
}

TEST(PortList, RescanChoosesTheReceiverOrShowsTheFirstEntry)
{
    const struct
    {
        const char* what;
        std::vector<PortInfo> ports;
        std::wstring receiver;
        std::wstring selected;
        bool bChosen;
    } rows[] = {
        {"the receiver by its name", {kSerial, kUblox}, kUbloxById, kUbloxById, true},
        {"by its kernel name, letter case ignored", {kSerial, kUblox}, L"TTYACM0", kUbloxById, true},
        {"no receiver", {kUsb, kSerial}, L"", L"ttyUSB0", false},
        {"the receiver not listed", {kUsb, kSerial}, L"ttyACM0", L"ttyUSB0", false},
        {"no ports", {}, L"ttyACM0", L"", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        CPortList list;
        EXPECT_EQ(list.Rescan(row.ports, row.receiver), row.bChosen);
        EXPECT_EQ(list.SelectedName(), row.selected);
        EXPECT_EQ(list.IsChosen(), row.bChosen);
    }
}

TEST(PortList, SavedPortSelectsWhatItPrefixesOrIsAddedWhenTyped)
{
    const struct
    {
        std::wstring saved;
        bool bTypedPorts;
        std::wstring selected;
        bool bChosen;
        std::size_t entries;
    } rows[] = {
        {L"ttyACM0", true, kUbloxById, true, 2}, // older settings: the kernel name
        {L"U-BLOX", true, kUbloxById, true, 2},  // a label's start, letter case ignored
        {L"ttyUSB9", true, L"ttyS0", false, 2},  // no match: what the rescan showed
        {kUbloxById, true, kUbloxById, true, 2}, // a path already listed is not added again
        {L"/dev/rfcomm0", true, L"/dev/rfcomm0", true, 3},
        {L"gpsd://localhost", true, L"gpsd://localhost", true, 3},
        {L"/dev/rfcomm0", false, L"ttyS0", false, 2},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.saved.begin(), row.saved.end()));
        CPortList list;
        list.Rescan({kUblox, kSerial}, L"");
        list.ChooseSaved(row.saved, row.bTypedPorts);
        EXPECT_EQ(list.SelectedName(), row.selected);
        EXPECT_EQ(list.IsChosen(), row.bChosen);
        EXPECT_EQ(list.Entries().size(), row.entries);
    }
}

TEST(PortList, TypedNamesChooseAnEntryOrAreAddedOrDropped)
{
    const struct
    {
        std::wstring typed;
        CPortList::TypedOutcome outcome;
        std::wstring selected;
    } rows[] = {
        {L"ttyS0", CPortList::TypedOutcome::Unchanged, L"ttyS0"},
        {L"U-BLOX 7 GNSS RECEIVER (TTYACM0)", CPortList::TypedOutcome::Chosen, kUbloxById},
        {L"ttyacm0", CPortList::TypedOutcome::Chosen, kUbloxById},
        {L"udp://:10110", CPortList::TypedOutcome::Chosen, L"udp://:10110"},
        {L"tcp://192.168.4.1", CPortList::TypedOutcome::Dropped, L"ttyS0"},
        {L"ttyUSB", CPortList::TypedOutcome::Dropped, L"ttyS0"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.typed.begin(), row.typed.end()));
        CPortList list;
        list.Rescan({kUblox, kSerial}, L"");
        EXPECT_EQ(list.Type(row.typed), row.outcome);
        EXPECT_EQ(list.SelectedName(), row.selected);
        EXPECT_EQ(list.IsChosen(), row.outcome == CPortList::TypedOutcome::Chosen);
    }
}

// One enumeration after another, each row what the user typed before it (if anything), what
// the list then selects and whether that is handed to the frame.
TEST(PortList, RefreshKeepsTheChoiceAndTakesOnlyANewReceiver)
{
    const struct
    {
        const char* what;
        std::wstring typed;
        std::vector<PortInfo> ports;
        std::wstring receiver;
        bool bConnected;
        std::wstring selected;
        bool bChosen;
        bool bApply;
    } steps[] = {
        {"a plain port: shown, not chosen", L"", {kSerial}, L"", false, L"ttyS0", false, false},
        {"the receiver's node appears", L"", {kAcm0, kSerial}, L"ttyACM0", false, L"ttyACM0", true, true},
        {"its by-id name follows", L"", {kUblox, kSerial}, kUbloxById, false, kUbloxById, true, true},
        {"unplugged", L"", {kSerial}, L"", false, L"ttyS0", false, false},
        {"back while connected: not taken", L"", {kUblox1, kSerial}, kUbloxById, true, L"ttyS0", false, false},
        {"disconnected: the chosen one again", L"", {kUblox1, kSerial}, kUbloxById, false, kUbloxById, true, true},
        {"another port beside it", L"", {kUblox1, kSerial, kUsb}, kUbloxById, false, kUbloxById, true, false},
        {"the user's pick goes", L"ttyUSB0", {kUblox1, kSerial}, kUbloxById, false, L"ttyS0", false, false},
        {"and comes back", L"", {kUblox1, kSerial, kUsb}, kUbloxById, false, L"ttyUSB0", true, true},
        {"a typed path stays", L"/dev/pts/7", {kSerial, kUsb}, L"", false, L"/dev/pts/7", true, false},
    };
    CPortList list;
    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.what);
        if (!step.typed.empty())
        {
            ASSERT_EQ(list.Type(step.typed), CPortList::TypedOutcome::Chosen);
        }
        EXPECT_EQ(list.Refresh(step.ports, step.receiver, step.bConnected), step.bApply);
        EXPECT_EQ(list.SelectedName(), step.selected);
        EXPECT_EQ(list.IsChosen(), step.bChosen);
    }
    EXPECT_EQ(Labels(list), (std::vector<std::wstring>{L"/dev/pts/7", L"Prolific USB-to-Serial (ttyUSB0)", L"ttyS0"}));
}
