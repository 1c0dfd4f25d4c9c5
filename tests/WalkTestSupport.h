#pragma once

// What the walk's tests share: a recording walk, trees to walk and counts.
#include "TestSupport.h"

#include "AppHelper.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace WalkTest {

// A sink that is its own walker, so tests reach the walk's counts and stop it from OnFileFound.
class CRecorder : public CWalkSink, public CAppHelper {
public:
    CRecorder() : CAppHelper(static_cast<CWalkSink&>(*this)) {}
    void OnFileFound(const CFileFind& f) override
    {
        paths << QByteArray(f.FilePath().data(), int(f.FilePath().size()));
        folders << QByteArray(f.Folder().data(), int(f.Folder().size()));
        if (observe)
            trace << paths.last() + (f.IsFirstInFolder() ? " first " : " ") + QByteArray::number(CurrentFolderFileCount());
        QCOMPARE(QByteArray(f.FileName().data(), int(f.FileName().size())),
                 paths.last().mid(paths.last().lastIndexOf('/') + 1));
        if (onFile)
            onFile(*this);
    }
    // One whole listing with the settings' options as the caller's tweak changes them.
    void List(const QByteArray& root, const std::function<void(::CWalkOptions&)>& tweak = {})
    {
        paths.clear();
        folders.clear();
        trace.clear();
        ::CWalkOptions options = LoadOptions();
        if (tweak)
            tweak(options);
        PrepareListing(root, options);
        result = StartListing(stop);
    }
    // Everything a listing shows: each file with its first-in-folder mark and
    // its folder's count so far, then the totals.
    QByteArrayList Observed() const
    {
        return trace + QByteArrayList{"parsed " + QByteArray::number(result.m_nFoldersParsed),
                                      "ignored " + QByteArray::number(result.m_nFoldersIgnored)};
    }
    std::atomic<bool> stop{false};  // the walk's token
    CWalkResult result;             // of the last List
    QByteArrayList paths;
    QByteArrayList folders;
    QByteArrayList trace;
    bool observe = false;  // fill trace
    std::function<void(CRecorder&)> onFile;
};

QByteArrayList Sorted(QByteArrayList l)
{
    std::sort(l.begin(), l.end());
    return l;
}

// The order the file system gives, walked depth first: what the engine must report.
void ExpectedOrder(const QByteArray& folder, QByteArrayList& out)
{
    DIR* d = opendir(folder.constData());
    QVERIFY(d);
    QList<QPair<QByteArray, bool>> entries;
    while (dirent* e = readdir(d)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            entries << qMakePair(name, e->d_type == DT_DIR);
    }
    closedir(d);
    for (const auto& [name, isDir] : entries) {
        if (isDir)
            ExpectedOrder(folder + "/" + name, out);
        else
            out << folder + "/" + name;
    }
}

void RemakeFolders(const QByteArray& root)
{
    for (int i = 0; i < 20; ++i) {
        MakeDir(root + "/d" + QByteArray::number(i));
        MakeFile(root + "/d" + QByteArray::number(i) + "/f");
    }
}

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// A few hundred folders of every kind the walk meets, the same each time:
// wide and deep ones, empty, hidden, skipped, unreadable and looping ones,
// files hidden, read-only and plain.
void MakeVariedTree(const QByteArray& root)
{
    quint32 seed = 12345;
    const auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    QByteArrayList folders = {root};
    for (int i = 0; i < 400; ++i) {
        // Recent folders are likelier parents, so some chains run deep.
        const int n = int(folders.size());
        const QByteArray parent = folders[next(4) == 0 ? int(next(quint32(n))) : n - 1 - int(next(quint32(std::min(n, 6))))];
        const QByteArray name = (next(25) == 0 ? "." : "") + QByteArray("d") + QByteArray::number(i);
        TestSupport::MakeDir(parent + "/" + name);
        folders << parent + "/" + name;
    }
    MakeDir(root + "/wide");
    for (int i = 0; i < 80; ++i) {
        MakeDir(root + "/wide/w" + QByteArray::number(i));
        if (i % 3)
            MakeFile(root + "/wide/w" + QByteArray::number(i) + "/f");
    }
    for (int i = 0; i < folders.size(); ++i) {
        const int files = int(next(9));
        for (int j = 0; j < files; ++j) {
            const QByteArray file = folders[i] + "/" + (next(10) == 0 ? "." : "") + "f" + QByteArray::number(j);
            MakeFile(file);
            if (next(8) == 0)
                chmod(file.constData(), 0444);
        }
    }
    MakeDir(root + "/skipped");
    MakeFile(root + "/skipped/f");
    MakeDir(root + "/locked");
    MakeFile(root + "/locked/f");
    chmod(root + "/locked", 0);
    QCOMPARE(symlink("..", folders[4] + "/loop"), 0);
    QCOMPARE(symlink("wide", root + "/wideLink"), 0);
}

// A fresh folder for each case, and the engine's seams put back after it.
struct CWalkFixture {
    QByteArray m_root;
    int m_case = 0;

    QByteArray NewRoot()
    {
        m_root = QFile::encodeName(TestSupport::TempRoot()) + "/tree" + QByteArray::number(++m_case);
        MakeDir(m_root);
        return m_root;
    }
    static void Reset()
    {
        SetSystemFoldersResolver({});
        COptionsStore::ClearOverrides();
    }
};

}  // namespace WalkTest
