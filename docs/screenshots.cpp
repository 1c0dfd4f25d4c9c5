// Makes the README's pictures: the main window after a listing, the results
// window over it comparing contents, the dark look and a narrow window, from a
// small demo tree with its own settings.

#include "ColorListCtrl.h"
#include "DlgDuplicateResults.h"
#include "FolderTree.h"
#include "MainFrame.h"
#include "OptionsStore.h"
#include "ResultsModel.h"
#include "SpaceMap.h"
#include "SorvaneApp.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"
#include "CommandIds.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A file of size bytes whose contents are set by seed: equal seeds, equal bytes.
void Make(const QString& path, qint64 size, char seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    QByteArray block(64 * 1024, seed);
    for (qint64 done = 0; done < size; done += block.size())
        f.write(block.left(int(std::min<qint64>(block.size(), size - done))));
}

void Wait(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The results window over a real folder, its files compared, with the picture of where the space lies.
int MapPicture(const QString& folder, const QString& out)
{
    COptionsStore().WriteInt(QStringLiteral("CompareContents"), 1);
    auto paths = std::make_shared<QByteArrayList>();
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        *paths << QFile::encodeName(it.next());
    CFillInput input{[paths] { return int(paths->size()); },
                     [paths](int i) { return std::string_view(paths->at(i).constData(), size_t(paths->at(i).size())); }, true};
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    answer.start(50);
    CDlgDuplicateResults results(input, nullptr);
    results.resize(1000, 560);
    results.show();
    Wait([&] { return results.ResultsList()->isEnabled(); });
    auto* map = results.findChild<CSpaceMap*>();
    Wait([&] { return map->IsLaidOut(); });
    results.OnCheckAllButNewest();
    results.ResultsList()->selectRow(3);
    QTimer::singleShot(300, [&] { results.grab().save(out + QStringLiteral("/screenshot-map.png")); qApp->quit(); });
    return qApp->exec();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: sorvane_screenshots OUTPUT_FOLDER [--map FOLDER]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir home;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        setenv(var, QFile::encodeName(home.path()).constData(), 1);
    QApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[2]) == "--map")
        return MapPicture(QString::fromLocal8Bit(argv[3]), out);

    const QString demo = home.path() + QStringLiteral("/Pictures and Papers");
    struct CDemoFile {
        const char* name;
        qint64 size;
        char seed;
    };
    const CDemoFile files[] = {
        {"Holiday 2025/beach.jpg", 4813302, 'a'}, {"Holiday 2025/beach (copy).jpg", 4813302, 'a'},
        {"Holiday 2025/harbour.jpg", 3977120, 'b'}, {"Phone backup/IMG_2041.jpg", 4813302, 'a'},
        {"Phone backup/IMG_2042.jpg", 3977120, 'c'}, {"Phone backup/IMG_2043.jpg", 2210448, 'd'},
        {"Papers/tax-2025.pdf", 381940, 'e'}, {"Papers/tax-2025 (1).pdf", 381940, 'e'}, {"Papers/lease.pdf", 122001, 'f'},
        {"Music/song.flac", 21544210, 'g'}, {"Music/old/song.flac", 21544210, 'g'}, {"notes.txt", 2210448, 'h'},
    };
    for (const CDemoFile& f : files)
        Make(demo + QLatin1Char('/') + QLatin1String(f.name), f.size, f.seed);
    // Two large identical files, so the content check runs long enough to be seen.
    Make(demo + QStringLiteral("/Videos/holiday.mp4"), qint64(1536) << 20, 'v');
    Make(demo + QStringLiteral("/Videos/holiday (backup).mp4"), qint64(1536) << 20, 'v');
    // A second name of one file: marked as the same file, counted once.
    ::link(QFile::encodeName(demo + QStringLiteral("/Music/song.flac")).constData(),
           QFile::encodeName(demo + QStringLiteral("/Music/song (link).flac")).constData());

    COptionsStore store;
    store.WriteInt(QStringLiteral("DisplayFileList"), 1);
    store.WriteInt(QStringLiteral("ViewFilesCount"), 1);
    store.WriteInt(QStringLiteral("0 Column 0"), 50);
    store.WriteInt(QStringLiteral("0 Column 2"), 520);
    store.WriteInt(QStringLiteral("1 Column 0"), 50);
    store.WriteInt(QStringLiteral("1 Column 1"), 520);
    store.WriteInt(QStringLiteral("Results Column 2"), 360);
    store.WriteInt(QStringLiteral("Results Column 4"), 150);
    store.WriteInt(QStringLiteral("CompareContents"), 1);
    CSorvaneApp sorvane;
    sorvane.InitInstance({});
    CMainFrame* frame = sorvane.MainFrame();
    frame->resize(1000, 700);  // as first shown on a 1024x768 screen
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
        // While the contents are compared: the progress bar, caught as soon as it moves.
        auto* progress = new QTimer(qApp);
        QObject::connect(progress, &QTimer::timeout, [progress, frame, out] {
            auto* results = frame->findChild<CDlgDuplicateResults*>();
            auto* bar = results ? results->findChild<QProgressBar*>(QStringLiteral("contentProgress")) : nullptr;
            if (bar && bar->isVisible() && bar->value() > 50) {
                results->grab().save(out + QStringLiteral("/screenshot-progress.png"));
                progress->stop();
            }
        });
        progress->start(2);
        QTimer::singleShot(800, [&] {
            auto* results = frame->findChild<CDlgDuplicateResults*>();
            Wait([results] { return !results || !results->IsFilling(); });
            if (results) {  // at the size it takes on a 1024x768 screen
                results->OnCheckAllButNewest();
                results->ResultsList()->selectRow(1);
                QTimer::singleShot(300, [results, frame, out] {
                    results->grab().save(out + QStringLiteral("/screenshot-results.png"));
                    results->reject();
                    // The dark look, then a narrow window with folded panels.
                    frame->Command(Cmd::LookOffice2007Black)->trigger();
                    QTimer::singleShot(300, [frame, out] {
                        frame->grab().save(out + QStringLiteral("/screenshot-black.png"));
                        frame->Command(Cmd::LookOffice2007Blue)->trigger();
                        frame->resize(760, 560);
                        QTimer::singleShot(300, [frame, out] {
                            frame->grab().save(out + QStringLiteral("/screenshot-narrow.png"));
                            QTimer::singleShot(100, qApp, &QApplication::quit);
                        });
                    });
                });
            }
        });
    });
    return app.exec();
}
