#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class CDlgSplash;
class CMainFrame;
class CSorvaneDoc;
class QSocketNotifier;

// Start-up and shutdown of the window: one document, one frame, one view.
class CSorvaneApp : public QObject {
    Q_OBJECT
public:
    CSorvaneApp();
    ~CSorvaneApp() override;

    // Builds and shows the main window; args are the command line's document arguments.
    bool InitInstance(const QStringList& args);
    CMainFrame* MainFrame() const { return m_frame.get(); }
    CSorvaneDoc* Document() const { return m_doc.get(); }
    // The splash window while start-up runs; null once the view has taken it down.
    CDlgSplash* Splash() const { return m_splash; }

    // SIGTERM and SIGINT close the window as its close box does.
    void CloseOnTerminationSignals();

private:
    bool m_closePending = false;
    std::unique_ptr<CSorvaneDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    QSocketNotifier* m_signalNotifier = nullptr;
    CDlgSplash* m_splash = nullptr;
};
