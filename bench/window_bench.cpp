// Times the window's listing run with the display flag on and off against
// sorvane-cli on the same tree, and measures the top list's memory per row.
// Runs offscreen with its own temporary settings; prints figures only.

#include "MainFrame.h"
#include "SorvaneApp.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"
#include "CommandIds.h"
#include "DlgDuplicateResults.h"
#include "ResultsModel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

long RssKiB()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, rss = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &rss) != 2)
            rss = 0;
        std::fclose(f);
    }
    return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

// The UI thread's longest pause: a 5 ms heartbeat and the largest gap between its ticks.
class CStallMeter {
public:
    CStallMeter()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_clock.nsecsElapsed() / 1e6);
            m_clock.restart();
        });
    }
    void Start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    double Stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_clock.nsecsElapsed() / 1e6);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_longest = 0;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One window run: Start, answer the question with No, wait for the end.
double WindowRun(CSorvaneApp& app)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::No);
    });
    answer.start(5);
    QElapsedTimer t;
    t.start();
    app.MainFrame()->Command(Cmd::StartListing)->trigger();
    // Sleeps until an event comes (the answer timer brings one every 5 ms):
    // with a time limit processEvents ignores WaitForMoreEvents and would spin,
    // taking a core from the walk.
    while (app.MainFrame()->View()->IsListing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return t.nsecsElapsed() / 1e6;
}

// Opens the results window over the last listing; returns the times to its
// first row and to the end of its fill, and the rows it shows.
struct CResultsTiming {
    double firstRowMs = -1;
    double filledMs = -1;
    int rows = 0;
};
CResultsTiming ResultsRun(CSorvaneApp& app)
{
    CResultsTiming timing;
    QElapsedTimer t;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = app.MainFrame()->findChild<CDlgDuplicateResults*>();
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);  // the caution
        if (!dialog)
            return;
        if (timing.firstRowMs < 0 && dialog->Model()->rowCount() > 0)
            timing.firstRowMs = t.nsecsElapsed() / 1e6;
        if (dialog->isVisible() && !dialog->IsFilling() && dialog->findChild<QWidget*>(QStringLiteral("resultsList"))->isEnabled()) {
            timing.filledMs = t.nsecsElapsed() / 1e6;
            timing.rows = dialog->Model()->rowCount();
            dialog->reject();
        }
    });
    poll.start(1);
    t.start();
    app.MainFrame()->View()->OnDuplicateSearch();
    return timing;
}

double CliRun(const QString& cli, const QString& tree, const QStringList& options = {})
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(cli, options + QStringList{tree});
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        qFatal("sorvane-cli failed: %s", p.readAllStandardError().constData());
    return t.nsecsElapsed() / 1e6;
}

void DropCaches()
{
    sync();
    FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f || std::fputs("3\n", f) < 0)
        qFatal("cannot drop the page cache: run as root");
    std::fclose(f);
}

// The window's Compare Contents against sorvane-cli --duplicates --contents, from the page cache
// dropped (or warm), without the digest cache and on a rescan with it: listing to the last group.
int ContentsBench(CSorvaneApp& app, COptionsStore& store, const QString& tree, const QString& cli, int runs, bool cold)
{
    store.WriteInt(QStringLiteral("DisplayFileList"), 0);
    store.WriteInt(QStringLiteral("CompareContents"), 1);
    store.WriteInt(QStringLiteral("IgnoreProgramsFolder"), 0);
    store.WriteInt(QStringLiteral("IgnoreWindowsFolder"), 0);
    const QStringList contents{QStringLiteral("--duplicates"), QStringLiteral("--contents")};
    auto window = [&] {
        if (cold)
            DropCaches();
        const double listing = WindowRun(app);
        return listing + ResultsRun(app).filledMs;
    };
    auto command = [&](const QStringList& extra) {
        if (cold)
            DropCaches();
        return CliRun(cli, tree, contents + extra);
    };
    std::vector<double> windowPlain, cliPlain, windowRescan, cliRescan;
    store.WriteInt(QStringLiteral("UseCache"), 1);
    command({});  // what the rescans find
    for (int i = 0; i < runs; ++i) {
        store.WriteInt(QStringLiteral("UseCache"), 0);
        windowPlain.push_back(window());
        cliPlain.push_back(command({QStringLiteral("--no-cache")}));
        store.WriteInt(QStringLiteral("UseCache"), 1);
        windowRescan.push_back(window());
        cliRescan.push_back(command({}));
    }
    std::printf("tree %s, Compare Contents, %s, median of %d, listing to the last group\n", qPrintable(tree),
                cold ? "page cache dropped before each run" : "warm", runs);
    std::printf("  no cache   window %8.1f ms   sorvane-cli %8.1f ms   window / cli %5.2f\n", Median(windowPlain),
                Median(cliPlain), Median(windowPlain) / Median(cliPlain));
    std::printf("  rescan     window %8.1f ms   sorvane-cli %8.1f ms   window / cli %5.2f\n", Median(windowRescan),
                Median(cliRescan), Median(windowRescan) / Median(cliRescan));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_bench TREE SORVANE_CLI [RUNS]\n"
                             "       window_bench TREE SORVANE_CLI --contents [--cold] [RUNS]\n");
        return 2;
    }
    QTemporaryDir home;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        setenv(var, home.path().toLocal8Bit().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    const QString tree = QString::fromLocal8Bit(argv[1]);
    const QString cli = QString::fromLocal8Bit(argv[2]);
    const bool memoryOnly = argc > 3 && QByteArray(argv[3]) == "--memory";
    const bool contents = argc > 3 && QByteArray(argv[3]) == "--contents";
    const bool cold = contents && argc > 4 && QByteArray(argv[4]) == "--cold";
    const int runsAt = contents ? (cold ? 5 : 4) : 3;
    const int runs = argc > runsAt && !memoryOnly ? std::atoi(argv[runsAt]) : contents ? 3 : 5;

    CSorvaneApp app;
    app.InitInstance({});
    app.Document()->SetSelectedFolder(tree);
    COptionsStore store;
    if (contents)
        return ContentsBench(app, store, tree, cli, runs, cold);

    if (memoryOnly) {
        // In a fresh process, so memory freed by earlier runs cannot hide the cost.
        const long before = RssKiB();
        store.WriteInt(QStringLiteral("DisplayFileList"), 1);
        WindowRun(app);
        const long after = RssKiB();
        CFileListModel* model = app.MainFrame()->View()->FileModel();
        const int rows = model->rowCount();
        double nameBytes = 0;
        for (int r = 0; r < rows; ++r)
            nameBytes += model->FileName(r).toUtf8().size();
        std::printf("  top list rows         %8d\n", rows);
        std::printf("  memory per row        %8.0f B (average name %.1f B; goal under 250 B beyond the name)\n",
                    rows ? (after - before) * 1024.0 / rows - nameBytes / rows : 0.0, rows ? nameBytes / rows : 0.0);

        // The results window over the same rows.
        const long beforeResults = RssKiB();
        const CResultsTiming timing = ResultsRun(app);
        const long afterResults = RssKiB();
        std::printf("  results rows          %8d of %d files\n", timing.rows, rows);
        // The rows point into the listing's paths, so all of this is the window's own.
        std::printf("  results memory        %8.0f B per file examined beyond the listing (goal at most 64 B)\n",
                    rows ? (afterResults - beforeResults) * 1024.0 / rows : 0.0);
        return 0;
    }

    std::vector<double> off, on, cliTimes, listingStalls, fillStalls;
    CStallMeter stalls;
    int files = 0;
    for (int i = 0; i < runs + 1; ++i) {  // the first round warms the cache
        store.WriteInt(QStringLiteral("DisplayFileList"), 0);
        const double a = WindowRun(app);
        files = app.MainFrame()->View()->m_arrFiles.GetSize();
        store.WriteInt(QStringLiteral("DisplayFileList"), 1);
        stalls.Start();
        const double b = WindowRun(app);
        listingStalls.push_back(stalls.Stop());
        const double c = CliRun(cli, tree);
        if (i > 0) {
            off.push_back(a);
            on.push_back(b);
            cliTimes.push_back(c);
        }
    }

    std::printf("tree                 %s (%d files listed)\n", qPrintable(tree), files);
    std::printf("runs                 %d each after a warm-up\n\n", runs);
    std::printf("  window, display off   %8.1f ms\n", Median(off));
    std::printf("  window, display on    %8.1f ms\n", Median(on));
    std::printf("  sorvane-cli           %8.1f ms\n\n", Median(cliTimes));
    std::printf("  display on / off      %8.2f   (goal <= 1.5)\n", Median(on) / Median(off));
    std::printf("  window off / cli      %8.2f   (goal <= 1.10)\n", Median(off) / Median(cliTimes));
    std::vector<double> first, filled;
    for (int i = 0; i < runs; ++i) {
        stalls.Start();
        const CResultsTiming timing = ResultsRun(app);
        fillStalls.push_back(stalls.Stop());
        first.push_back(timing.firstRowMs);
        filled.push_back(timing.filledMs);
    }
    std::printf("  results first row     %8.1f ms (goal <= 100)\n", Median(first));
    std::printf("  results filled        %8.1f ms\n", Median(filled));
    std::printf("  longest UI stall, listing with Display File List  %6.1f ms (worst of %zu runs; goal <= 100)\n",
                *std::max_element(listingStalls.begin(), listingStalls.end()), listingStalls.size());
    std::printf("  longest UI stall, results fill                    %6.1f ms (worst of %zu runs; goal <= 100)\n",
                *std::max_element(fillStalls.begin(), fillStalls.end()), fillStalls.size());
    std::fflush(stdout);
    return QProcess::execute(QString::fromLocal8Bit(argv[0]), {tree, cli, QStringLiteral("--memory")});
}
