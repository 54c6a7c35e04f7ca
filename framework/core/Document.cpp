#include "framework/core/Document.h"

#include <algorithm>

CView::~CView()
{
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

CDocument::~CDocument()
{
    for (CView* view : m_views)
        view->m_pDocument = nullptr;
}

void CDocument::AddView(CView* pView)
{
    if (!pView || pView->m_pDocument == this)
        return;
    if (pView->m_pDocument)
        pView->m_pDocument->RemoveView(pView);
    m_views.push_back(pView);
    pView->m_pDocument = this;
}

void CDocument::RemoveView(CView* pView)
{
    auto it = std::find(m_views.begin(), m_views.end(), pView);
    if (it == m_views.end())
        return;
    m_views.erase(it);
    pView->m_pDocument = nullptr;
}

void CDocument::UpdateAllViews(CView* pSender, long lHint, const ViewHint& hint)
{
    // A copy: a view may leave the document while it handles the hint.
    const std::vector<CView*> views = m_views;
    for (CView* view : views)
    {
        if (view != pSender && std::find(m_views.begin(), m_views.end(), view) != m_views.end())
            view->OnUpdate(pSender, lHint, hint);
    }
}

void CDocument::SendInitialUpdate()
{
    const std::vector<CView*> views = m_views;
    for (CView* view : views)
        view->OnInitialUpdate();
}
