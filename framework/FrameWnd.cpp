#include "framework/FrameWnd.h"

#include "framework/WinApp.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QVariant>

namespace
{
constexpr const char* kCommandIdProperty = "orvaneCommandId";
constexpr const char* kCommandMenuProperty = "orvaneCommandMenu";

QEvent::Type PostedMessageType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class PostedMessageEvent : public QEvent
{
public:
    PostedMessageEvent(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(PostedMessageType()), m_nMsg(msg), m_wParam(wParam), m_lParam(lParam)
    {
    }

    unsigned m_nMsg;
    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
};

bool CommandIdOf(const QAction* pAction, unsigned& id)
{
    const QVariant value = pAction->property(kCommandIdProperty);
    if (!value.isValid())
        return false;
    id = value.toUInt();
    return true;
}
} // namespace

CFrameWnd::CFrameWnd(QWidget* parent) : QMainWindow(parent)
{
}

CFrameWnd::~CFrameWnd()
{
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

bool CFrameWnd::Create(CDocument* pDoc)
{
    SetActiveDocument(pDoc);
    return OnCreate() && OnCreateClient(pDoc);
}

QAction* CFrameWnd::AddCommand(QMenu* pMenu, unsigned id, const QString& text)
{
    QAction* action = pMenu->addAction(text);
    action->setProperty(kCommandIdProperty, id);
    m_commands.emplace_back(action);
    connect(action, &QAction::triggered, this, [this, id] { RouteCommand(id); });
    if (!pMenu->property(kCommandMenuProperty).toBool())
    {
        pMenu->setProperty(kCommandMenuProperty, true);
        connect(pMenu, &QMenu::aboutToShow, this, [this, pMenu] { UpdateMenu(pMenu); });
    }
    return action;
}

QAction* CFrameWnd::FindCommand(unsigned id) const
{
    for (const QPointer<QAction>& action : m_commands)
    {
        unsigned actionId = 0;
        if (action && CommandIdOf(action, actionId) && actionId == id)
            return action;
    }
    return nullptr;
}

bool CFrameWnd::RouteCommand(unsigned id)
{
    CCmdUI ui(id);
    RouteUpdateCommand(ui);
    if (!ui.m_bEnabled)
        return false;

    bool handled = OnCommand(id);
    if (!handled)
    {
        if (CDocument* doc = GetActiveDocument())
            handled = doc->OnCommand(id);
    }
    if (!handled)
    {
        if (CWinApp* app = AfxGetApp())
            handled = app->OnCommand(id);
    }
    // A handler may have changed what the items should show (a checkable item has also just
    // toggled itself).
    UpdateCommandUI();
    return handled;
}

bool CFrameWnd::RouteUpdateCommand(CCmdUI& ui)
{
    if (OnUpdateCommand(ui))
        return true;
    if (CDocument* doc = GetActiveDocument(); doc && doc->OnUpdateCommand(ui))
        return true;
    CWinApp* app = AfxGetApp();
    return app && app->OnUpdateCommand(ui);
}

void CFrameWnd::UpdateAction(QAction* pAction)
{
    unsigned id = 0;
    if (!CommandIdOf(pAction, id))
        return;
    CCmdUI ui(id);
    RouteUpdateCommand(ui);
    pAction->setEnabled(ui.m_bEnabled);
    // Only a checked item is checkable, so unchecked items show no empty box.
    pAction->setCheckable(ui.m_bChecked);
    pAction->setChecked(ui.m_bChecked);
}

void CFrameWnd::UpdateMenu(QMenu* pMenu)
{
    for (QAction* action : pMenu->actions())
        UpdateAction(action);
}

void CFrameWnd::UpdateCommandUI()
{
    std::erase_if(m_commands, [](const QPointer<QAction>& action) { return action.isNull(); });
    for (const QPointer<QAction>& action : m_commands)
        UpdateAction(action);
}

bool CFrameWnd::PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!QCoreApplication::instance())
        return false;
    // Events posted to one receiver with one priority are delivered in posting order.
    QCoreApplication::postEvent(this, new PostedMessageEvent(msg, wParam, lParam));
    return true;
}

bool CFrameWnd::event(QEvent* e)
{
    if (e->type() == PostedMessageType())
    {
        const auto* posted = static_cast<PostedMessageEvent*>(e);
        OnMessage(posted->m_nMsg, posted->m_wParam, posted->m_lParam);
        return true;
    }
    return QMainWindow::event(e);
}

void CFrameWnd::closeEvent(QCloseEvent* e)
{
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this)
        app->SaveState();
    e->accept();
}
