#include "BatchRun.h"

#include "WorkerThread.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <climits>

bool RunBatch(QWidget* parent, const QString& label, size_t total,
              const std::function<void(const std::atomic<bool>& stop, std::atomic<size_t>& done)>& work)
{
    std::atomic<size_t> done{0};
    std::atomic<bool> finished{false};
    bool stopped = false;
    // The dialog counts in ints; a larger batch is shown scaled.
    const size_t scale = total / INT_MAX + 1;
    QProgressDialog progress(label, QStringLiteral("Stop"), 0, int(total / scale), parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (finished.load())
            loop.quit();
        else
            progress.setValue(int(std::min(done.load(), total - (total ? 1 : 0)) / scale));
    });
    CWorkerThread worker;
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        stopped = true;
        worker.RequestStop();
    });
    worker.Start([&](const std::atomic<bool>& stop) {
        work(stop, done);
        finished.store(true);
    });
    tick.start(30);
    loop.exec();
    worker.Join();
    progress.reset();
    return stopped;
}
