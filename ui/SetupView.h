#pragma once

#include "framework/core/Document.h"
#include "serial/PortDiscovery.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <iterator>
#include <optional>
#include <string>

class CImageButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QPaintEvent;

// The "Setup" tab: the receiver's port and baud rate, the folder for recordings, and the Save
// button that copies the three into the application's settings. Every choice is handed on at
// once: the port and rate to the main frame, the folder to the document.
class CSetupView : public QWidget, public CView
{
public:
    // Where the port names and the receiver's port come from; tests supply their own.
    struct PortSource
    {
        std::function<void(const PortNameSink&)> enumerate = EnumerateComPorts;
        std::function<bool(std::wstring&)> findReceiver = FindReceiverPort;
    };
    // Shows the folder picker owned by pOwner (may be null); nothing when the user cancels.
    using FolderPicker = std::function<std::optional<QString>(QWidget* pOwner)>;

    static constexpr int kBaudRates[] = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
    static constexpr int kBaudRateCount = static_cast<int>(std::size(kBaudRates));

    explicit CSetupView(QWidget* pParent = nullptr);
    ~CSetupView() override;

    void SetPortSource(PortSource source);
    void SetFolderPicker(FolderPicker picker);

    // Fills the controls from the settings and hands the choices on to the frame and document.
    void OnInitialUpdate() override;
    // Locks port, baud and rescan while connected, and Choose while recording.
    void OnUpdate(CView* pSender, long lHint, void* pHint) override;

    // Refills the port list and selects (and applies) the receiver's port when one is found,
    // else selects the first entry without applying it.
    void RescanPorts();
    // Passes the selected port (empty when the list is empty) to the main frame.
    void ApplyPortSelection();
    // Passes the selected rate to the main frame.
    void ApplyBaudSelection();
    void OnFolderChanged();
    void OnChooseFolder();
    // Copies the three choices into the application's settings; nothing is written to disk.
    void OnSave();

    // true: controls into m_nBaudIndex and m_strFolder; false: the members into the controls.
    void UpdateData(bool bSaveAndValidate);

    // The text of the selected port entry, empty when nothing is selected.
    QString SelectedPortName() const;

    int m_nBaudIndex = 3;
    std::wstring m_strFolder;

    QComboBox* m_cbPort = nullptr;
    QComboBox* m_cbBaud = nullptr;
    CImageButton* m_btnScan = nullptr;
    CImageButton* m_btnChoose = nullptr;
    CImageButton* m_btnSave = nullptr;
    QLabel* m_lblPort = nullptr;
    QLineEdit* m_editFolder = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    // Inserts keeping the list in alphabetical order, letter case ignored; returns the index.
    int AddPortName(const QString& name);
    // The first entry from the top that begins with prefix, letter case ignored; -1 for none
    // and for an empty prefix.
    static int FindPrefix(const QComboBox* pCombo, const QString& prefix);
    // A name typed into the port field: an entry's name selects that entry; a device path
    // (from '/') or a network source (gpsd://, tcp://, udp://) is added and selected; anything
    // else is dropped.
    void CommitTypedPort();
    void MakeImageButtons();

    PortSource m_portSource;
    FolderPicker m_pickFolder;
};
