#pragma once

#include <any>
#include <vector>

class CDocument;

// What an update tells beyond its kind: nothing, a value, or a pointer to one that lives for
// the call (a batch of lines is not copied).
using ViewHint = std::any;

// The hint's payload as a T, given by value or by pointer; null when it holds nothing or
// something else, so that a view never reads a payload as what it is not.
template <class T>
const T* HintAs(const ViewHint& hint)
{
    if (const T* value = std::any_cast<T>(&hint))
        return value;
    if (const T* const* pointer = std::any_cast<const T*>(&hint))
        return *pointer;
    if (T* const* pointer = std::any_cast<T*>(&hint))
        return *pointer;
    return nullptr;
}

// Enabled and checked state of one command, decided by an update handler before a menu shows.
class CCmdUI
{
public:
    explicit CCmdUI(unsigned id) : m_nID(id) {}
    void Enable(bool bOn = true) { m_bEnabled = bOn; }
    void SetCheck(bool bOn = true) { m_bChecked = bOn; }

    unsigned m_nID;
    bool m_bEnabled = true;
    bool m_bChecked = false;
};

// Something commands are routed to. Each returns true when it handled the command.
class CCmdTarget
{
public:
    virtual ~CCmdTarget() = default;
    virtual bool OnCommand(unsigned /*id*/) { return false; }
    virtual bool OnUpdateCommand(CCmdUI& /*ui*/) { return false; }
};

// A view of a document. Window classes mix it in; the document keeps views in join order.
class CView
{
public:
    CView() = default;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;
    virtual ~CView();

    CDocument* GetDocument() const { return m_pDocument; }
    virtual void OnInitialUpdate() {}
    virtual void OnUpdate(CView* /*pSender*/, long /*lHint*/, const ViewHint& /*hint*/) {}

private:
    friend class CDocument;
    CDocument* m_pDocument = nullptr;
};

class CDocument : public CCmdTarget
{
public:
    CDocument() = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;
    ~CDocument() override;

    // Joins the view after the views already added; a view belongs to one document at a time.
    void AddView(CView* pView);
    void RemoveView(CView* pView);
    const std::vector<CView*>& GetViews() const { return m_views; }

    // Calls OnUpdate of every view but the sender, synchronously, in join order.
    void UpdateAllViews(CView* pSender, long lHint = 0, const ViewHint& hint = {});
    // Calls OnInitialUpdate of every view once, in join order.
    void SendInitialUpdate();

private:
    std::vector<CView*> m_views;
};
