#pragma once

#include "net/NtripClient.h"
#include "net/SocketDevice.h"

#include <QDialog>

#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

// Where the receiver is, for the streams' distances; none without a fix.
struct GeoPosition
{
    double latitude = 0.0;
    double longitude = 0.0;
};

// Lists a caster's streams, nearest first, for the user to pick one. The sourcetable is asked
// for on a thread of its own as the dialog is made, so a slow caster never holds the window;
// closing the dialog calls the request off. A failure is said in the dialog.
class CSourcetableDialog : public QDialog
{
public:
    CSourcetableDialog(const NtripCaster& caster, std::optional<GeoPosition> position, QWidget* pParent = nullptr);
    ~CSourcetableDialog() override;

    // The answer has come (streams or a failure).
    bool IsAnswered() const { return m_bAnswered; }
    // The streams in the order shown.
    const std::vector<NtripStream>& Streams() const { return m_streams; }
    // What the dialog says above the list: the failure, or how many streams.
    QString StatusText() const;
    QTreeWidget* List() const { return m_pList; }
    // The mountpoint of the selected row; empty when none.
    std::string SelectedMountpoint() const;

private:
    void OnAnswer(const SourcetableAnswer& answer);

    NtripCaster m_caster;
    std::optional<GeoPosition> m_position;
    QLabel* m_pStatus = nullptr;
    QTreeWidget* m_pList = nullptr;
    QPushButton* m_pOk = nullptr;
    bool m_bAnswered = false;
    std::vector<NtripStream> m_streams;
    SocketDevice m_socket;
    std::thread m_fetch; // last: joined first
};

// Shows the dialog, modal to pOwner; the mountpoint chosen, or nullopt when the user cancelled
// or the caster gave nothing.
std::optional<std::string> ChooseMountpoint(QWidget* pOwner, const NtripCaster& caster,
                                            std::optional<GeoPosition> position);
