// The results window's links and protected folders, on real files with the real trash of the test's
// temporary data home: this folder's file system cannot share blocks, so links are hard links.
#include "WidgetTestSupport.h"

#include "ColorListCtrl.h"
#include "DlgDuplicateResults.h"
#include "LinkOps.h"
#include "OptionsStore.h"
#include "ResultsModel.h"
#include "SelectionRules.h"
#include "SpaceMap.h"

#include <QAction>
#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using TestSupport::CBoxAnswerer;

namespace {

ino_t Inode(const QByteArray& path)
{
    struct stat st {};
    lstat(path.constData(), &st);
    return st.st_ino;
}

CFillInput Input(const QByteArrayList& paths)
{
    auto copy = std::make_shared<QByteArrayList>(paths);
    return {[copy] { return int(copy->size()); },
            [copy](int i) { const QByteArray& p = copy->at(i); return std::string_view(p.constData(), size_t(p.size())); }};
}

// The results of paths (or of copied folders, with tree) shown, filled, and their caution answered.
std::unique_ptr<CDlgDuplicateResults> Filled(const QByteArrayList& paths, std::shared_ptr<const FolderGroups::CTree> tree = nullptr)
{
    CBoxAnswerer caution(QMessageBox::Ok);
    caution.remaining = 1;
    auto dialog = std::make_unique<CDlgDuplicateResults>(Input(paths), nullptr, std::move(tree));
    dialog->show();
    if (!QTest::qWaitFor([&] { return dialog->ResultsList()->isEnabled() && caution.remaining == 0; }, 20000))
        qWarning("the results were not filled in time");
    return dialog;
}

// A file system mounted for a test (root only), unmounted after it; skip says why there is none.
struct CMounted {
    QByteArray path;
    QString skip;
    static bool Run(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.start(program, args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    CMounted(const QByteArray& where, const QString& type)
    {
        const QString at = QFile::decodeName(where), image = at + QStringLiteral(".img");
        TestSupport::MakeDir(where);
        if (geteuid() != 0)
            skip = QStringLiteral("mounting a file system needs root");
        else if (type.startsWith(QLatin1String("xfs")) && QStandardPaths::findExecutable(QStringLiteral("mkfs.xfs")).isEmpty())
            skip = QStringLiteral("mkfs.xfs is not installed (Debian: xfsprogs)");
        else if (type.startsWith(QLatin1String("xfs"))
                 && !(QFile(image).open(QIODevice::WriteOnly) && QFile(image).resize(qint64(300) << 20)
                      && Run(QStringLiteral("mkfs.xfs"), {"-q", "-f", "-m", type == QLatin1String("xfs") ? "reflink=1" : "reflink=0", image})
                      && Run(QStringLiteral("mount"), {"-o", "loop", image, at})))
            skip = QStringLiteral("an XFS image could not be made and loop-mounted here");
        else if (type == QLatin1String("tmpfs") && !Run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16m", "tmpfs", at}))
            skip = QStringLiteral("a tmpfs could not be mounted here");
        if (skip.isEmpty())
            path = where;
    }
    ~CMounted()
    {
        if (!path.isEmpty())
            Run(QStringLiteral("umount"), {QFile::decodeName(path)});
    }
};

QString Checks(const CResultsModel& model)
{
    QString marks;
    for (const CResultRow& r : model.Rows())
        marks += r.checked ? QLatin1Char('x') : QLatin1Char('.');
    return marks;
}

}  // namespace

class TestResultsLinks : public QObject {
    Q_OBJECT

private slots:
    // The protected copy is the one kept; the checked copies become links to it after the confirmation
    // names it, and Restore Last Trashed puts the copies themselves back. A protected file checked by
    // hand is trashed only after its own warning, which answers No to Enter.
    void checkedCopiesBecomeLinksToTheProtectedOne()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/links";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/p");
        const QByteArray bytes(5000, 'z');
        QByteArrayList paths;
        for (const char* name : {"a", "b", "c", "p/e"}) {
            TestSupport::WriteFile(dir + "/" + name, bytes);
            paths << dir + "/" + name;
        }
        const ino_t copyInode = Inode(dir + "/b");
        // A name outside the list keeps c: a hard link in c's place frees nothing.
        QVERIFY(link((dir + "/c").constData(), (dir + "/c-elsewhere").constData()) == 0);
        CProtectedFolders folders;
        folders.Toggle((dir + "/p").toStdString());
        QVERIFY(LinkOps::WriteProtected(folders));
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);

        const std::unique_ptr<CDlgDuplicateResults> filled = Filled(paths);
        CDlgDuplicateResults& dialog = *filled;
        QVERIFY(dialog.ResultsList()->isEnabled());
        CResultsModel& model = *dialog.Model();
        QCOMPARE(model.rowCount(), 4);
        dialog.OnCheckAll();
        QCOMPARE(Checks(model), QStringLiteral("xxx."));
        dialog.OnCheckAllButNewest();  // the protected copy is the newest of none: it is kept for being protected
        QCOMPARE(Checks(model), QStringLiteral("xxx."));
        QVERIFY2(dialog.SummaryText().endsWith(QStringLiteral("Replacing them with hard links (their file system cannot share "
                                                              "blocks) would free 9.8 KiB once their copies leave the Trash.")),
                 qPrintable(dialog.SummaryText()));

        // The box says before it asks that only hard links can be made here, and fits with room to spare.
        QString kept;
        bool yesWaits = false, fits = false;
        CBoxAnswerer yes(QMessageBox::Yes, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            kept = box->informativeText();
            yesWaits = !box->button(QMessageBox::Yes)->isEnabled();
            fits = box->width() <= box->screen()->availableGeometry().width() * 3 / 4
                   && box->checkBox()->width() >= box->checkBox()->sizeHint().width();
            box->checkBox()->setChecked(true);
        });
        yes.remaining = 1;
        dialog.OnReplaceWithLinks();
        QVERIFY2(yes.texts.value(0).startsWith(QStringLiteral("Replace 3 checked file(s) with links")), qPrintable(yes.texts.value(0)));
        QVERIFY2(yes.texts.value(0).contains(QStringLiteral("cannot share blocks, so these links can only be hard links. "
                                                            "Hard-linked names are one file: they share one owner")),
                 qPrintable(yes.texts.value(0)));
        QVERIFY(yesWaits && fits);
        QVERIFY2(kept.contains(QStringLiteral("/p/e")), qPrintable(kept));
        for (const char* name : {"a", "b", "c"})
            QCOMPARE(Inode(dir + "/" + name), Inode(dir + "/p/e"));
        const QString done = QStringLiteral("3 copies replaced with hard links; 9.8 KiB freed once the Trash is emptied "
                                            "(the copies wait there for Undo).");
        QCOMPARE(dialog.LastDone(), done);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("resultsStatusText"))->text().left(done.size()), done);

        CBoxAnswerer ok(QMessageBox::Ok);
        ok.remaining = 1;
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        dialog.OnRestoreLastTrashed();
        QVERIFY2(ok.texts.value(0).startsWith(QStringLiteral("3 of 3 item(s) restored")), qPrintable(ok.texts.value(0)));
        QCOMPARE(Inode(dir + "/b"), copyInode);
        QVERIFY(Inode(dir + "/a") != Inode(dir + "/p/e"));

        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        dialog.OnUnCheckAll();
        model.setData(model.index(3, 0), Qt::Checked, Qt::CheckStateRole);
        CBoxAnswerer enter(QMessageBox::NoButton);
        enter.remaining = 1;
        dialog.OnSendToRecycleBin();
        QVERIFY2(enter.texts.value(0).contains(QStringLiteral("lie in protected folders")), qPrintable(enter.texts.value(0)));
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/p/e")));
        dialog.reject();
    }

    // Copied folders as rows: a checked copy goes to the trash whole, through the same confirmation and
    // Undo as a file, and its files can be replaced with links to the kept copy's.
    void copiedFoldersAreTrashedAndLinkedWhole()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/folders";
        // Told as a walk tells it: each folder as it is entered, then its files.
        auto tree = std::make_shared<FolderGroups::CTree>();
        QByteArrayList files;
        for (const char* folder : {"", "/lib", "/lib/sub", "/old", "/old/lib", "/old/lib/sub"}) {
            TestSupport::MakeDir(dir + folder);
            tree->Enter((dir + folder).toStdString());
            const QByteArray name = QByteArray(folder).endsWith("sub") ? "/two" : QByteArray(folder).endsWith("lib") ? "/one" : "";
            if (!name.isEmpty()) {
                TestSupport::WriteFile(dir + folder + name, name + QByteArray(3000, 'q'));
                files << dir + folder + name;
                tree->AddFile((dir + folder + name).toStdString());
            }
        }
        const std::unique_ptr<CDlgDuplicateResults> filled = Filled(files, tree);
        CDlgDuplicateResults& dialog = *filled;
        QVERIFY(dialog.ResultsList()->isEnabled());
        CResultsModel& model = *dialog.Model();
        QCOMPARE(model.rowCount(), 2);  // the sub-folders are the same copy again
        QCOMPARE(QByteArray(model.Row(1).path), dir + "/old/lib");
        QVERIFY2(dialog.SummaryText().startsWith(QStringLiteral("1 group(s) of copied folders, 2 folder(s).")),
                 qPrintable(dialog.SummaryText()));

        // A copy that is (Protect This Folder on its row), lies in or holds a protected folder is shown so,
        // is the copy the helpers keep, and goes to the trash or becomes links only after its own warning,
        // which answers No to Enter.
        QVERIFY(LinkOps::WriteProtected({}));
        for (const QByteArray& guarded : QByteArrayList{dir + "/old/lib", dir + "/old", dir + "/old/lib/sub"}) {
            CProtectedFolders folders;
            folders.Toggle(guarded.toStdString());
            if (guarded.endsWith("/old/lib")) {
                dialog.OnProtectFolderOf(1);
            } else {
                QVERIFY(LinkOps::WriteProtected(folders));
                model.SetProtected(folders);
            }
            QCOMPARE(LinkOps::ReadProtected().Folders(), folders.Folders());
            QVERIFY(model.index(1, 1).data(Qt::FontRole).value<QFont>().italic() && !model.index(0, 1).data(Qt::FontRole).isValid());
            QVERIFY(model.index(1, 0).data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("Protected: ")));
            for (const auto& helper : std::vector<std::function<void()>>{[&] { dialog.OnCheckAllButNewest(); },
                                                                        [&] { dialog.OnCheckAllButOldest(); },
                                                                        [&] { dialog.OnCheckMatching(QStringLiteral("*lib")); },
                                                                        [&] { dialog.OnCheckInFolderOf(0); },
                                                                        [&] { dialog.OnCheckAll(); }}) {
                dialog.OnUnCheckAll();
                helper();
                QCOMPARE(Checks(model), QStringLiteral("x."));
            }
            dialog.OnUnCheckAll();
            model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);  // by hand, its group keeping the other copy
            int noByDefault = 0;
            CBoxAnswerer enter(QMessageBox::NoButton, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                noByDefault += box->standardButton(box->defaultButton()) == QMessageBox::No;
                if (box->checkBox())
                    box->checkBox()->setChecked(true);  // hard links allowed: only No keeps the copy
            });
            enter.remaining = 2;
            dialog.OnSendToRecycleBin();
            dialog.OnReplaceWithLinks();
            QCOMPARE(noByDefault, 2);
            for (const QString& text : enter.texts)
                QVERIFY2(text.contains(QStringLiteral("1 checked folder(s) are protected")), qPrintable(text));
            QVERIFY(QFile::exists(QFile::decodeName(dir + "/old/lib/sub/two")));
            QVERIFY(Inode(dir + "/old/lib/one") != Inode(dir + "/lib/one"));
        }
        QVERIFY(LinkOps::WriteProtected({}));
        model.SetProtected({});
        dialog.OnUnCheckAll();

        model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);
        CBoxAnswerer yes(QMessageBox::Yes, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box->checkBox())
                box->checkBox()->setChecked(true);
        });
        yes.remaining = 1;
        dialog.OnReplaceWithLinks();
        QVERIFY2(yes.texts.value(0).startsWith(QStringLiteral("Replace the 2 file(s) of 1 checked folder(s)")), qPrintable(yes.texts.value(0)));
        QCOMPARE(Inode(dir + "/old/lib/sub/two"), Inode(dir + "/lib/sub/two"));
        QCOMPARE(Inode(dir + "/old/lib/one"), Inode(dir + "/lib/one"));

        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        QCOMPARE(model.rowCount(), 2);
        model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);
        yes.remaining = 1;
        dialog.OnSendToRecycleBin();
        QVERIFY(!QFile::exists(QFile::decodeName(dir + "/old/lib")));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        CBoxAnswerer ok(QMessageBox::Ok);
        ok.remaining = 1;
        dialog.OnRestoreLastTrashed();
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/old/lib/sub/two")));
        dialog.reject();
    }

    // The picture beside the list adds up to the figures line, and a click on a folder selects its rows.
    void thePictureFollowsTheList()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/picture";
        QByteArrayList files;
        for (const char* folder : {"", "/x", "/y"}) {
            TestSupport::MakeDir(dir + folder);
            for (const char* name : {"/big", "/small"}) {
                TestSupport::WriteFile(dir + folder + name, QByteArray(name).repeated(name[1] == 'b' ? 9000 : 300));
                files << dir + folder + name;
            }
        }
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);
        const std::unique_ptr<CDlgDuplicateResults> filled = Filled(files);
        CDlgDuplicateResults& dialog = *filled;
        QVERIFY(dialog.ResultsList()->isEnabled());
        auto* map = dialog.findChild<CSpaceMap*>(QStringLiteral("spaceMap"));
        QVERIFY(map && map->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(map->IsLaidOut(), 10000);
        QCOMPARE(map->TotalArea(), SelectionRules::Figures(dialog.Model()->Rows(), dialog.Model()->SameFiles()).reclaimable);
        QRectF tile;
        for (const auto& [folder, rect] : map->Tiles())
            tile = folder == dir + "/y" ? rect : tile;
        QVERIFY(!tile.isEmpty());
        QTest::mouseClick(map, Qt::LeftButton, {}, tile.center().toPoint());
        QStringList selected;
        for (const QModelIndex& index : dialog.ResultsList()->selectionModel()->selectedRows())
            selected << QString::fromUtf8(dialog.Model()->Row(index.row()).Path().data());
        selected.sort();
        QCOMPARE(selected, QStringList({QFile::decodeName(dir + "/y/big"), QFile::decodeName(dir + "/y/small")}));

        // From the keyboard: an arrow reaches the other folder beside it, Enter selects its rows.
        map->setFocus();
        QSignalSpy clicked(map, &CSpaceMap::FolderClicked);
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
            QTest::keyClick(map, key);
            QTest::keyClick(map, Qt::Key_Return);
            if (clicked.last().at(0).toByteArray() != dir + "/y")
                break;
        }
        QCOMPARE(clicked.last().at(0).toByteArray(), dir + "/x");
        QCOMPARE(dialog.ResultsList()->selectionModel()->selectedRows().size(), 2);
        dialog.reject();
    }

    // Each file system is asked once what it can do, before the user is: the figures, the question and
    // what is said after follow it. A copy held by another name is freed by shared blocks, not by a
    // hard link; after the links, the copies count as one, whichever kind joined them.
    void linksFollowTheFileSystem_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("promise");
        QTest::addColumn<bool>("asksForHard");
        QTest::addColumn<QString>("done");
        QTest::addColumn<QChar>("mark");
        QTest::newRow("xfs shares blocks") << "xfs" << "Replacing them with links would free 128.0 KiB." << false
                                           << "2 copies replaced with links; 128.0 KiB freed." << QChar(CResultsModel::kSharedBlocksMark);
        // An XFS made without reflink cannot, whatever its type says: only trying tells.
        for (const char* type : {"tmpfs", "xfs-noreflink"})
            QTest::newRow(type) << type
                                << "Replacing them with hard links (their file system cannot share blocks) would free "
                                   "64.0 KiB once their copies leave the Trash."
                                << true
                                << "2 copies replaced with hard links; 64.0 KiB freed once the Trash is emptied (the "
                                   "copies wait there for Undo)."
                                << QChar(CResultsModel::kSameFileMark);
    }
    void linksFollowTheFileSystem()
    {
        QFETCH(QString, type);
        QFETCH(QString, promise);
        QFETCH(bool, asksForHard);
        QFETCH(QString, done);
        QFETCH(QChar, mark);
        CMounted mounted(QFile::encodeName(TestSupport::TempRoot()) + "/fs-" + type.toUtf8(), type);
        if (!mounted.skip.isEmpty())
            QSKIP(qPrintable(mounted.skip));
        const QByteArray dir = mounted.path;
        QByteArrayList paths;
        for (const char* name : {"a", "b", "c"}) {
            TestSupport::WriteFile(dir + "/" + name, QByteArray(64 << 10, 'q'));
            paths << dir + "/" + name;
        }
        QVERIFY(link((dir + "/c").constData(), (dir + "/c-elsewhere").constData()) == 0);
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);
        const std::unique_ptr<CDlgDuplicateResults> filled = Filled(paths);
        CDlgDuplicateResults& dialog = *filled;
        QVERIFY(dialog.ResultsList()->isEnabled());
        CResultsModel& model = *dialog.Model();
        for (int r = 0; r < model.rowCount(); ++r)
            model.setData(model.index(r, 0), model.Row(r).Path().back() == 'a' ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        QVERIFY2(dialog.SummaryText().endsWith(promise), qPrintable(dialog.SummaryText()));

        bool offered = false;
        CBoxAnswerer yes(QMessageBox::Yes, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            offered = box->checkBox() != nullptr;
            if (box->checkBox())
                box->checkBox()->setChecked(true);
        });
        yes.remaining = 1;
        dialog.OnReplaceWithLinks();
        QCOMPARE(offered, asksForHard);
        QCOMPARE(yes.texts.value(0).contains(QStringLiteral("cannot share blocks")), asksForHard);
        QCOMPARE(dialog.LastDone(), done);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        QVERIFY2(dialog.SummaryText().startsWith(QStringLiteral("1 group(s) of identical files, 3 file(s): trashing all but "
                                                                "one copy of each would free 0 bytes.")),
                 qPrintable(dialog.SummaryText()));
        for (int r = 0; r < model.rowCount(); ++r)
            QVERIFY2(model.index(r, 0).data().toString().endsWith(mark), qPrintable(model.index(r, 0).data().toString()));
        dialog.reject();
    }

    // Without a content check there is nothing to link: the command is off.
    void sizeOnlyGroupsAreNeverLinked()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/sizes";
        TestSupport::MakeDir(dir);
        TestSupport::WriteFile(dir + "/a", "same size 1");
        TestSupport::WriteFile(dir + "/b", "same size 2");
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 0);
        CBoxAnswerer caution(QMessageBox::Ok);
        caution.remaining = 1;
        CDlgDuplicateResults dialog(Input({dir + "/a", dir + "/b"}), nullptr);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
        QAction* link = nullptr;
        for (QAction* a : dialog.ContextMenu()->actions())
            link = a->text() == QStringLiteral("Replace Checked with Links") ? a : link;
        QVERIFY(link && !link->isEnabled());
        QVERIFY(!dialog.SummaryText().contains(QStringLiteral("links")));
        dialog.reject();
    }
};

SORVANE_WIDGET_TEST_MAIN(TestResultsLinks)
#include "tst_results_links.moc"
