#pragma once

#include "framework/core/Document.h"
#include "framework/core/MessageBox.h"

#include <QString>

#include <functional>
#include <memory>

class CFrameWnd;
class QApplication;

// The one application object: owns the document and the main frame of the run, and the
// QApplication when it made it.
//
// How to derive the application (COrvaneApp):
// - Construct it in main() and return its Run(argc, argv). Run makes the QApplication (unless
//   one exists already), calls InitInstance(), runs the event loop while InitInstance returned
//   true and a main window exists, then destroys the frame with its views and, after them, the
//   document.
// - InitInstance() calls OpenNewDocument<CDoc, CFrame>(), which in this order: constructs the
//   document; constructs the frame and runs its Create (its views join the document there; the
//   main window pointer is still null while that runs); sets m_pMainWnd; runs the load-state
//   step (PreLoadState(), the stored frame state when SetRegistryKey was called, then
//   LoadCustomState()); gives every view its OnInitialUpdate in join order. Then InitInstance
//   sets the title, shows m_pMainWnd and returns true.
// - Closing the main window (its close box, or ID_APP_EXIT, handled here) runs the save-state
//   step once: the stored frame state, then SaveCustomState(). No window and not the document
//   has been destroyed at that point.
// - OnCommand/OnUpdateCommand are the last stop of command routing; an override must call this
//   class's OnCommand for the ids it does not handle itself.
// - The constructor installs the message-box handler used by ShowMessageBox: a modal
//   QMessageBox owned by the main window with the caption, text, icon and an OK button. Tests
//   install their own with SetMessageBoxHandler afterwards.
class CWinApp : public CCmdTarget
{
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    ~CWinApp() override;

    int Run(int& argc, char** argv);

    virtual bool InitInstance() { return true; }

    template <class TDoc, class TFrame>
    bool OpenNewDocument()
    {
        return OpenNewDocument([] { return std::make_unique<TDoc>(); },
                               [] { return std::make_unique<TFrame>(); });
    }
    bool OpenNewDocument(const std::function<std::unique_ptr<CDocument>()>& makeDocument,
                         const std::function<std::unique_ptr<CFrameWnd>()>& makeFrame);
    // Saves the state if the window did not close first, then destroys the frame and its views,
    // then the document.
    void DestroyMainWindow();
    CDocument* GetDocument() const { return m_pDocument.get(); }

    // The frame's position is stored under this organisation name (QSettings) from now on.
    void SetRegistryKey(const QString& key);

    bool OnCommand(unsigned id) override;

    // Null until the main frame has been created.
    CFrameWnd* m_pMainWnd = nullptr;

protected:
    virtual void PreLoadState() {}
    virtual bool LoadCustomState() { return true; }
    virtual bool SaveCustomState() { return true; }

private:
    friend class CFrameWnd;
    void LoadState();
    void SaveState();

    std::unique_ptr<QApplication> m_pQtApp;
    std::unique_ptr<CDocument> m_pDocument;
    std::unique_ptr<CFrameWnd> m_pFrame;
    MessageBoxHandler m_previousMessageBox;
    bool m_bStateSaved = false;
    bool m_bStoreFrameState = false;
};

// The application object, or null when there is none.
CWinApp* AfxGetApp();
