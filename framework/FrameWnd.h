#pragma once

#include "framework/core/Document.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <vector>

class QAction;
class QCloseEvent;
class QEvent;
class QMenu;

// The top-level window of a document: a QMainWindow that routes menu commands and receives
// messages posted from any thread.
//
// How to derive a frame (CMainFrame):
// - The constructor builds the frame's own members (a device held by value, say). There are no
//   views yet and the application's m_pMainWnd is still null.
// - CWinApp::OpenNewDocument calls Create(pDoc), which makes pDoc the active document and runs
//   OnCreate() (build the menu bar with AddCommand) and then OnCreateClient(pDoc) (create the
//   views: construct each view widget, then pDoc->AddView(view), in the order the views must
//   receive updates). Either returning false abandons start-up.
// - Menu items are QActions made by AddCommand(menu, id, text). Triggering one routes the id to
//   the frame, then the active document, then the application: the first OnCommand that returns
//   true has handled it. Before a menu opens, every item's enabled and checked state is asked of
//   OnUpdateCommand along the same route (the first that returns true decides; an item no one
//   decides stays enabled and unchecked). A command whose item is disabled is not routed.
//   UpdateCommandUI() refreshes every item at once, for shortcuts and tests.
// - PostMessage(msg, wParam, lParam) is safe from any thread; OnMessage(msg, wParam, lParam) runs
//   later on the user-interface thread, once per post, in posting order. Whoever posts from
//   another thread must have stopped before the frame's QObject is destroyed: a device member
//   of the derived frame whose destructor joins its reader thread does that, because members
//   are destroyed before this base.
// - Closing the main window runs the application's save-state hook once, before any window or
//   the document is destroyed. A derived closeEvent must call this one.
// - Views reach the frame as AfxGetApp()->m_pMainWnd and cast it to the derived class.
class CFrameWnd : public QMainWindow, public CCmdTarget
{
public:
    explicit CFrameWnd(QWidget* parent = nullptr);
    ~CFrameWnd() override;

    bool Create(CDocument* pDoc);

    // The document is owned by the application and outlives the frame.
    CDocument* GetActiveDocument() const { return m_pActiveDocument; }
    void SetActiveDocument(CDocument* pDoc) { m_pActiveDocument = pDoc; }

    // Appends a menu item for the command; the menu's items are brought up to date each time
    // it is about to show.
    QAction* AddCommand(QMenu* pMenu, unsigned id, const QString& text);
    // The first item made for the command, or null.
    QAction* FindCommand(unsigned id) const;

    // Returns true when a target handled the command; a disabled command goes nowhere.
    bool RouteCommand(unsigned id);
    // Returns true when a target decided the state.
    bool RouteUpdateCommand(CCmdUI& ui);
    void UpdateMenu(QMenu* pMenu);
    void UpdateCommandUI();

    // Thread-safe. Returns false only when there is no application object to deliver it.
    bool PostMessage(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

protected:
    virtual bool OnCreate() { return true; }
    virtual bool OnCreateClient(CDocument* /*pDoc*/) { return true; }
    virtual void OnMessage(unsigned /*msg*/, std::uintptr_t /*wParam*/, std::intptr_t /*lParam*/) {}

    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void UpdateAction(QAction* pAction);

    CDocument* m_pActiveDocument = nullptr;
    // Menus need not be children of the frame, so the items are kept here.
    std::vector<QPointer<QAction>> m_commands;
};
