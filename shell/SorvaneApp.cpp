#include "SorvaneApp.h"

#include "AppTexts.h"
#include "DlgSplash.h"
#include "MainFrame.h"
#include "PathArray.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"

#include <QApplication>
#include <QSocketNotifier>

#include "StopSignals.h"

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
}  // namespace

CSorvaneApp::CSorvaneApp()
    : m_doc(std::make_unique<CSorvaneDoc>())
{
}

CSorvaneApp::~CSorvaneApp()
{
    delete m_splash;
    // The frame (and with it the view, which saves its column widths) goes first.
    m_frame.reset();
}

bool CSorvaneApp::InitInstance(const QStringList& args)
{
    QApplication::setWindowIcon(AppIcon());
    m_splash = new CDlgSplash;
    m_splash->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    m_frame = std::make_unique<CMainFrame>(m_doc.get());
    // The view's first set-up ends start-up's picture; later ones find none.
    connect(m_frame->View(), &CSorvaneView::InitialUpdated, this, [this] {
        if (m_splash) {
            m_splash->close();
            delete m_splash;
            m_splash = nullptr;
        }
    });
    // A folder on the command line is selected and listed; any other argument is a document.
    bool listFolder = false;
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1Char('-')))
            continue;
        struct stat st {};
        const QByteArray native = EncodeNativeExact(arg);
        if (stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            char* real = realpath(native.constData(), nullptr);
            m_frame->SelectFolder(DecodeNativeExact(real ? real : native.constData()));
            free(real);
            listFolder = true;
        } else {
            m_frame->OpenDocument(arg);
        }
        break;
    }
    m_frame->show();
    m_frame->setWindowTitle(Res::AppTitle());
    m_frame->View()->OnInitialUpdate();
    if (listFolder)
        QMetaObject::invokeMethod(m_frame->View(), &CSorvaneView::OnStartListing, Qt::QueuedConnection);
    if (m_closePending)
        QMetaObject::invokeMethod(m_frame.get(), &QWidget::close, Qt::QueuedConnection);
    return true;
}

void CSorvaneApp::CloseOnTerminationSignals()
{
    IgnoreWriteSignals();
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
        // A signal during start-up closes the window once it exists.
        if (m_frame)
            m_frame->close();
        else
            m_closePending = true;
    });
    HandleStopSignals(OnTerminationSignal);
}
