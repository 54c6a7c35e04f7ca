#pragma once

#include "settings/PortList.h"
#include "settings/Settings.h"
#include "framework/core/Document.h"
#include "discovery/PortDiscovery.h"
#include "discovery/PortWatcher.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CImageButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QPaintEvent;
class QSocketNotifier;
class QTimer;

// The "Setup" tab: the receiver's port and baud rate, the folder for recordings, and the Save
// button that copies the three into the settings it was handed. Every choice is handed on at
// once: the port and rate to the main frame, the folder to the document.
class CSetupView : public QWidget, public CView
{
public:
    // Where the port names and the receiver's port come from; tests supply their own.
    struct PortSource
    {
        std::function<void(const PortInfoSink&)> enumerate = EnumeratePorts;
        std::function<bool(std::wstring&)> findReceiver = FindReceiverPort;
        // What tells the form that devices came or went; null for a list that never updates.
        std::function<std::unique_ptr<IPortWatcher>()> watch = MakeSystemPortWatcher;
    };
    // How long the form lets a burst of device events settle before it reads the list again:
    // udev makes the by-id link a moment after the device node.
    static constexpr int kHotPlugSettleMs = 150;
    // Shows the folder picker owned by pOwner (may be null); nothing when the user cancels.
    using FolderPicker = std::function<std::optional<QString>(QWidget* pOwner)>;

    explicit CSetupView(QWidget* pParent = nullptr);
    ~CSetupView() override;

    // Keeps the settings where they last: called by Save once the settings hold the choices.
    using SettingsKeeper = std::function<void()>;

    // The settings the form starts from and Save writes to; they must outlive the form. Given
    // before OnInitialUpdate. Without them the form starts from the defaults and Save keeps
    // nothing. keep, when given, is called after each Save.
    void SetSettings(AppSettings& settings, SettingsKeeper keep = {});
    void SetPortSource(PortSource source);
    void SetFolderPicker(FolderPicker picker);

    // Fills the controls from the settings and hands the choices on to the frame and document.
    void OnInitialUpdate() override;
    // Locks port, baud and rescan while connected, and Choose while recording.
    void OnUpdate(CView* pSender, long lHint, const ViewHint& hint) override;

    // Refills the port list and selects (and applies) the receiver's port when one is found,
    // else selects the first entry without applying it.
    void RescanPorts();
    // The list again after devices came or went: the chosen port stays chosen (and is chosen
    // again when it comes back); a receiver that appears while no port is chosen is selected
    // and applied. Never connects.
    void RefreshPorts();
    // Passes the selected port (empty when the list is empty) to the main frame.
    void ApplyPortSelection();
    // Passes the selected rate to the main frame.
    void ApplyBaudSelection();
    void OnFolderChanged();
    void OnChooseFolder();
    // Copies the choices into the settings and hands them to the keeper.
    void OnSave();
    // The corrections field was left or Enter pressed: its address (the password kept when
    // the field still shows it masked) goes to the frame, and the field shows it masked.
    void OnCorrectionsEdited();
    void OnShareEdited();
    // Lets the user pick one of the caster's streams; the field gets its mountpoint. An
    // address that is no caster's is said in a message.
    void OnChooseStream();
    // The corrections address as it is, password and all; the field shows it masked.
    const std::wstring& Corrections() const { return m_strCorrections; }

    // true: controls into m_nBaudIndex and m_strFolder; false: the members into the controls.
    void UpdateData(bool bSaveAndValidate);

    // The port name of the selected entry (its by-id path, kernel name or typed path), empty
    // when nothing is selected.
    QString SelectedPortName() const;
    // What the selected entry shows.
    QString SelectedPortLabel() const;

    int m_nBaudIndex = 3;
    std::wstring m_strFolder;

    QComboBox* m_cbPort = nullptr;
    QComboBox* m_cbBaud = nullptr;
    CImageButton* m_btnScan = nullptr;
    CImageButton* m_btnChoose = nullptr;
    CImageButton* m_btnSave = nullptr;
    QLabel* m_lblPort = nullptr;
    QLineEdit* m_editFolder = nullptr;
    QLineEdit* m_editCorrections = nullptr;
    CImageButton* m_btnChooseStream = nullptr;
    QLineEdit* m_editShare = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    // What the port source lists, and the receiver's port name (empty for none).
    std::vector<PortInfo> ListPorts() const;
    std::wstring ReceiverPort() const;
    // The list widget shows the port list's entries and selection.
    void ShowPorts();
    void ShowSelectedPortTip();
    void StartWatching();
    void OnPortEvents();
    // The user picked an entry.
    void ChoosePort(int index);
    // The first entry from the top that begins with prefix, letter case ignored; -1 for none
    // and for an empty prefix.
    static int FindPrefix(const QComboBox* pCombo, const QString& prefix);
    // A name typed into the port field: an entry's name selects that entry; a device path
    // (from '/') or a network source (gpsd://, tcp://, udp://) is added and selected; anything
    // else is dropped.
    void CommitTypedPort();
    void MakeImageButtons();

    // Shows the corrections address, masked, and hands it and the share on to the frame.
    void ShowCorrections();

    std::wstring m_strCorrections;
    AppSettings* m_pSettings = nullptr;
    SettingsKeeper m_keepSettings;
    PortSource m_portSource;
    FolderPicker m_pickFolder;
    CPortList m_portList;
    std::unique_ptr<IPortWatcher> m_pWatcher;
    QSocketNotifier* m_pWatchNotifier = nullptr;
    QTimer* m_pRefreshTimer = nullptr;
};
