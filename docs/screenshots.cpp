// Makes the README's pictures: the main window after a listing and the
// results window over it, from a small demo tree with its own settings.

#include "ColorListCtrl.h"
#include "DlgDuplicateResults.h"
#include "FolderTree.h"
#include "MainFrame.h"
#include "ResultsModel.h"
#include "SorvaneApp.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"
#include "CommandIds.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void Make(const QString& path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0) {
        if (::ftruncate(fd, size) != 0)
            std::perror("ftruncate");
        ::close(fd);
    }
}

void Wait(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: sorvane_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir home;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        setenv(var, QFile::encodeName(home.path()).constData(), 1);
    QApplication app(argc, argv);

    const QString demo = home.path() + QStringLiteral("/Pictures and Papers");
    const QList<QPair<const char*, qint64>> files = {
        {"Holiday 2025/beach.jpg", 4813302}, {"Holiday 2025/beach (copy).jpg", 4813302},
        {"Holiday 2025/harbour.jpg", 3977120}, {"Phone backup/IMG_2041.jpg", 4813302},
        {"Phone backup/IMG_2042.jpg", 3977120}, {"Phone backup/IMG_2043.jpg", 2210448},
        {"Papers/tax-2025.pdf", 381940}, {"Papers/tax-2025 (1).pdf", 381940}, {"Papers/lease.pdf", 122001},
        {"Music/song.flac", 31544210}, {"Music/old/song.flac", 31544210}, {"notes.txt", 2210448},
    };
    for (const auto& [name, size] : files)
        Make(demo + QLatin1Char('/') + QLatin1String(name), size);

    COptionsStore store;
    store.WriteInt(QStringLiteral("DisplayFileList"), 1);
    store.WriteInt(QStringLiteral("ViewFilesCount"), 1);
    store.WriteInt(QStringLiteral("0 Column 0"), 50);
    store.WriteInt(QStringLiteral("0 Column 2"), 520);
    store.WriteInt(QStringLiteral("1 Column 0"), 50);
    store.WriteInt(QStringLiteral("1 Column 1"), 520);
    store.WriteInt(QStringLiteral("Results Column 2"), 360);
    store.WriteInt(QStringLiteral("Results Column 4"), 150);
    CSorvaneApp sorvane;
    sorvane.InitInstance({});
    CMainFrame* frame = sorvane.MainFrame();
    frame->resize(1280, 760);
    frame->FolderTree()->SelectPath(demo);
    Wait([&] { return sorvane.Document()->SelectedFolder() == demo; });

    // Answer the end-of-run question No, then take the pictures.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(box->text().startsWith(QLatin1String("Do you")) ? QMessageBox::No : QMessageBox::Ok);
    });
    answer.start(50);
    frame->Command(Cmd::StartListing)->trigger();
    Wait([&] { return !frame->View()->IsListing(); });
    QTimer::singleShot(300, [&] {
        frame->grab().save(out + QStringLiteral("/screenshot-main.png"));
        QTimer::singleShot(0, [&] { frame->View()->OnDuplicateSearch(); });
        QTimer::singleShot(800, [&] {
            auto* results = frame->findChild<CDlgDuplicateResults*>();
            if (results) {
                results->resize(960, 300);
                results->ResultsList()->selectRow(1);
                results->Model()->setData(results->Model()->index(1, 0), Qt::Checked, Qt::CheckStateRole);
                QTimer::singleShot(300, [results, out] {
                    results->grab().save(out + QStringLiteral("/screenshot-results.png"));
                    results->reject();
                    QTimer::singleShot(100, qApp, &QApplication::quit);
                });
            }
        });
    });
    return app.exec();
}
