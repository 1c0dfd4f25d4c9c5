#include "TestSupport.h"

#include "SelectionRules.h"

namespace {

// Rows of groups: each entry is (group, path, modified, dev/ino key).
struct CSpec {
    int32_t group;
    const char* path;
    int64_t modified;
    uint64_t ino;
    uint64_t dev = 1;
};

std::vector<CResultRow> Rows(std::initializer_list<CSpec> specs)
{
    std::vector<CResultRow> rows;
    for (const CSpec& s : specs) {
        CResultRow r;
        r.path = s.path;
        r.group = s.group;
        r.modified = s.modified;
        r.hasModified = r.opened = true;
        r.sizeKey = 100 - uint64_t(s.group);
        r.dev = s.dev;
        r.ino = s.ino;
        rows.push_back(r);
    }
    return rows;
}

QString Checks(const std::vector<CResultRow>& rows)
{
    QString marks;
    for (const CResultRow& r : rows)
        marks += r.checked ? QLatin1Char('x') : QLatin1Char('.');
    return marks;
}

}  // namespace

class TestSelection : public QObject {
    Q_OBJECT

private slots:
    // Ties in time go to the smallest path, so the result never depends on row order.
    void newestAndOldestBreakTiesByPath()
    {
        auto rows = Rows({{0, "/b/x", 5, 1}, {0, "/a/x", 5, 2}, {0, "/c/x", 1, 3},
                          {1, "/z", 2, 4}, {1, "/y", 2, 5}});
        SelectionRules::CheckAllButNewest(rows, {});
        QCOMPARE(Checks(rows), QStringLiteral("x.xx."));
        SelectionRules::CheckAllButOldest(rows, {});
        QCOMPARE(Checks(rows), QStringLiteral("xx.x."));
        // Only the groups in scope change.
        rows = Rows({{0, "/b", 5, 1}, {0, "/a", 5, 2}, {1, "/z", 2, 4}, {1, "/y", 3, 5}});
        SelectionRules::CheckAllButNewest(rows, {1});
        QCOMPARE(Checks(rows), QStringLiteral("..x."));
    }

    void folderWildcardAndInvert()
    {
        auto rows = Rows({{0, "/a/b/1.jpg", 0, 1}, {0, "/a/bc/2.jpg", 0, 2}, {1, "/a/b/c/3.txt", 0, 3},
                          {1, "/x/4.txt", 0, 4}});
        SelectionRules::CheckInFolder(rows, "/a/b/", {});
        QCOMPARE(Checks(rows), QStringLiteral("x.x."));  // below the folder, not a sibling sharing its prefix
        SelectionRules::InvertChecks(rows, {0});
        QCOMPARE(Checks(rows), QStringLiteral(".xx."));
        rows = Rows({{0, "/a/b/1.jpg", 0, 1}, {0, "/a/bc/2.JPG", 0, 2}, {1, "/p/a\nb.txt", 0, 3}, {1, "/x/4.txt", 0, 4}});
        SelectionRules::CheckMatching(rows, QStringLiteral("*.jpg"), {});
        QCOMPARE(Checks(rows), QStringLiteral("x..."));
        SelectionRules::CheckMatching(rows, QStringLiteral("/p/*"), {});  // on the whole path
        QCOMPARE(Checks(rows), QStringLiteral("x.x."));
        SelectionRules::CheckMatching(rows, QStringLiteral("a\\nb*"), {});  // control characters as shown
        QCOMPARE(Checks(rows), QStringLiteral("x.x."));
    }

    // A protected folder's copy is the one kept, whatever its time; stored folders keep every byte
    // of their names and protect what lies below them (and, as a copied folder, what holds them), not
    // a sibling sharing their prefix.
    void protectedFoldersKeepTheirCopy()
    {
        CProtectedFolders folders;
        folders.Toggle("/keep\xff\nme/");
        folders.Toggle("/other");
        folders.Toggle("/other/");  // toggled off again
        folders = CProtectedFolders::FromStored(folders.Stored() + "\nrelative\n%00/x\n");
        QCOMPARE(folders.Folders(), std::vector<std::string>({"/keep\xff\nme"}));
        auto rows = Rows({{0, "/new", 9, 1}, {0, "/keep\xff\nme/old", 1, 2}, {0, "/keep\xff\nmeX/older", 0, 3},
                          {1, "/z", 2, 4}, {1, "/y", 1, 5}});
        SelectionRules::CheckAllButNewest(rows, {}, &folders);
        QCOMPARE(Checks(rows), QStringLiteral("x.x.x"));
        SelectionRules::CheckAllButOldest(rows, {}, &folders);
        QCOMPARE(Checks(rows), QStringLiteral("x.xx."));
        QVERIFY(CProtectedFolders::FromStored("/").Covers("/any/file"));
        // Copied folders as rows: one that is, lies in or holds a protected folder is the copy kept.
        for (const auto& [folder, marks] : {std::pair<const char*, const char*>{"/b", "x."}, {"/b/old/", "x."},
                                            {"/b/old/in", "x."}, {"/b/ol", ".x"}, {"/b/older", ".x"}}) {
            CProtectedFolders guard;
            guard.Toggle(folder);
            rows = Rows({{0, "/a/new", 9, 1}, {0, "/b/old", 1, 2}});
            SelectionRules::CheckAllButNewest(rows, {}, &guard);
            QVERIFY2(Checks(rows) == QLatin1String(marks), folder);
        }
    }

    // Reclaimable bytes count each inode once; a checked hard link frees nothing while a copy is kept.
    void figuresCountInodesOnce()
    {
        auto rows = Rows({{0, "/a", 0, 1}, {0, "/b", 0, 1}, {0, "/c", 0, 2}, {1, "/d", 0, 3}, {1, "/e", 0, 4}});
        SelectionRules::CFigures f = SelectionRules::Figures(rows);
        QCOMPARE(f.groups, 2);
        QCOMPARE(f.files, 5);
        QCOMPARE(f.reclaimable, uint64_t(100 * 1 + 99 * 1));
        rows[1].checked = true;  // a link of a kept row
        QCOMPARE(SelectionRules::Figures(rows).checkedReclaimable, uint64_t(0));
        rows[0].checked = true;  // now both names of inode 1 go
        QCOMPARE(SelectionRules::Figures(rows).checkedReclaimable, uint64_t(100));
        QCOMPARE(SelectionRules::FullyCheckedGroups(rows), std::vector<int32_t>());
        rows[2].checked = rows[4].checked = true;
        QCOMPARE(SelectionRules::FullyCheckedGroups(rows), std::vector<int32_t>({0}));
        // A link needs a copy kept: the fully checked group frees nothing by links.
        f = SelectionRules::Figures(rows);
        QCOMPARE(f.checkedReclaimable, uint64_t(100 + 100 + 99));
        QCOMPARE(f.linkReclaimable, uint64_t(99));

        // One inode number on two devices is two files.
        rows = Rows({{0, "/a", 0, 7, 1}, {0, "/b", 0, 7, 2}, {0, "/c", 0, 7, 1}});
        QCOMPARE(SelectionRules::SameFiles(rows), std::vector<int32_t>({-1, -1, 0}));
        QCOMPARE(SelectionRules::Figures(rows).reclaimable, uint64_t(100));
        rows[1].checked = true;
        QCOMPARE(SelectionRules::Figures(rows).checkedReclaimable, uint64_t(100));

        // Files whose blocks are all shared count once, like names of one file; the lowest row stands
        // for the set, across a hard link of either.
        rows = Rows({{0, "/a", 0, 1}, {0, "/b", 0, 2}, {0, "/c", 0, 3}, {0, "/d", 0, 2}, {0, "/e", 0, 4}});
        const std::vector<int32_t> sharing = SelectionRules::SameFiles(rows, {0, 9, 9, 0, 0});
        QCOMPARE(sharing, std::vector<int32_t>({-1, -1, 1, 1, -1}));
        QCOMPARE(SelectionRules::Figures(rows, sharing).reclaimable, uint64_t(100 * 2));
        QCOMPARE(SelectionRules::SameFiles(rows, {7, 0, 9, 0, 7}), std::vector<int32_t>({-1, -1, -1, 1, 0}));
        QCOMPARE(SelectionRules::SameFiles(Rows({{0, "/a", 0, 1, 1}, {0, "/b", 0, 2, 2}}), {5, 5}), std::vector<int32_t>({-1, -1}));

        // A link frees only what its kind can: a hard link nothing while a name outside the list keeps
        // the copy, and the rest only once the copy leaves the trash.
        using SelectionRules::ELink;
        rows = Rows({{0, "/keep", 0, 1}, {0, "/shared", 0, 2}, {0, "/hard", 0, 3}, {0, "/held", 0, 4}});
        for (CResultRow& r : rows)
            r.checked = r.Path() != "/keep";
        const std::vector<ELink> kinds = {ELink::kShare, ELink::kShare, ELink::kHard, ELink::kHardHeld};
        f = SelectionRules::Figures(rows, SelectionRules::SameFiles(rows), &kinds);
        QCOMPARE(f.checkedReclaimable, uint64_t(300));
        QCOMPARE(f.linkReclaimable, uint64_t(200));
        QCOMPARE(f.hardLinkReclaimable, uint64_t(100));
    }
};

SORVANE_TEST_MAIN(TestSelection)
#include "tst_selection.moc"
