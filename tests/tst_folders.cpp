// Whole copied folders, from the command line on a real tree: a library copied whole, nested two levels
// deep, under another name, made of hard links, and near-copies that differ in each way that counts.
#include "CliTestSupport.h"
#include "TrashTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// A library's files, each of its own size and bytes.
const QList<QPair<const char*, int>> kLibrary = {{"a/1.jpg", 1000}, {"a/2.jpg", 2000}, {"b/3.jpg", 3000},
                                                 {"b/c/4.jpg", 4000}, {"top.txt", 50}};

QByteArray Bytes(const char* name, int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(name[i % int(strlen(name))] + i / 7);
    return data;
}

void MakePath(const QByteArray& folder)
{
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
}

void MakeLibrary(const QByteArray& at)
{
    for (const auto& [name, size] : kLibrary) {
        const QByteArray path = at + "/" + name;
        MakePath(path.left(path.lastIndexOf('/')));
        TestSupport::WriteFile(path, Bytes(name, size));
    }
}

}  // namespace

class TestFolders : public QObject {
    Q_OBJECT

private slots:
    void onlyTheLargestCopiesAreListed()
    {
        const QByteArray root = TrashTest::ResolvedRoot() + "/tree";
        MakeLibrary(root + "/photos");
        MakeLibrary(root + "/backup/2019/photos");  // "2019" holds the copy alone: it matches "linked"
        MakeLibrary(root + "/renamedparent/pics");
        for (const char* near : {"extra", "renamed", "differ", "unread"})
            MakeLibrary(root + "/" + near + "/photos");
        TestSupport::WriteFile(root + "/extra/photos/b/more.jpg", "one file more");
        QCOMPARE(::rename((root + "/renamed/photos/a/1.jpg").constData(), (root + "/renamed/photos/a/1b.jpg").constData()), 0);
        QByteArray changed = Bytes("b/3.jpg", 3000);
        changed[2999] = '!';
        TestSupport::WriteFile(root + "/differ/photos/b/3.jpg", changed);
        for (const auto& [name, size] : kLibrary) {
            const QByteArray path = root + "/linked/photos/" + name;
            MakePath(path.left(path.lastIndexOf('/')));
            QCOMPARE(::link((root + "/photos/" + name).constData(), path.constData()), 0);
        }
        MakePath(root + "/empty1/e");  // no files: never a copy
        MakePath(root + "/empty2/e");
        QCOMPARE(chmod((root + "/unread/photos/a/1.jpg").constData(), 0), 0);
        QCOMPARE(chmod((root + "/unread/photos/b/c").constData(), 0), 0);

        QProcess p;
        p.setChildProcessModifier(TestSupport::CFileModesObeyed::RestrictChild);
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QStringLiteral("--folders"),
                                             QStringLiteral("--format=json"), QFile::decodeName(root)});
        QVERIFY(p.waitForFinished(60000));
        chmod((root + "/unread/photos/b/c").constData(), 0755);
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QStringList groups;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject group = QJsonDocument::fromJson(line).object();
            QStringList folders;
            for (const QJsonValue& f : group.value(QStringLiteral("folders")).toArray())
                folders << f.toString().mid(root.size() + 1);
            groups << QStringLiteral("%1 %2: %3").arg(group.value(QStringLiteral("size")).toInteger())
                          .arg(group.value(QStringLiteral("files")).toInteger()).arg(folders.join(QLatin1Char(' ')));
        }
        QCOMPARE(groups, QStringList({QStringLiteral("10050 5: backup/2019 linked"),
                                      QStringLiteral("10050 5: backup/2019/photos photos renamedparent/pics"),
                                      QStringLiteral("7000 2: backup/2019/photos/b renamed/photos/b"),
                                      QStringLiteral("4000 1: backup/2019/photos/b/c differ/photos/b/c extra/photos/b/c"),
                                      QStringLiteral("3000 2: backup/2019/photos/a differ/photos/a extra/photos/a")}));
        QVERIFY2(err.contains("\n5 Group(s) of Copied Folders, 13 Folder(s).\n"), err.constData());
        QVERIFY2(err.contains("cannot read folder " + root + "/unread/photos/b/c"), err.constData());

        // Tab lines carry the same groups; --folders is a form of --duplicates.
        const CRun tabs = Run({QStringLiteral("--duplicates"), QStringLiteral("--folders"), QFile::decodeName(root + "/photos")});
        QCOMPARE(tabs.exitCode, 0);
        QCOMPARE(tabs.out, QByteArray());
        QCOMPARE(Run({QStringLiteral("--folders"), QFile::decodeName(root)}).exitCode, 2);
    }

    // Every entry counts, not files alone: a link by its target, a pipe by its kind; and a file that
    // cannot be read matches nothing, not even one of the same name that cannot be read either.
    void everyEntryDecides_data()
    {
        // Made in each copy of the library: "link NAME TARGET", "fifo NAME" or "unread NAME".
        QTest::addColumn<QByteArrayList>("left");
        QTest::addColumn<QByteArrayList>("right");
        QTest::addColumn<bool>("copies");
        const QByteArrayList none;
        QTest::newRow("extra link") << QByteArrayList{"link a/l ../top.txt"} << none << false;
        QTest::newRow("links to other targets") << QByteArrayList{"link a/l ../top.txt"}
                                                << QByteArrayList{"link a/l ../b/3.jpg"} << false;
        const QByteArrayList links = {"link a/l ../top.txt", "link gone nowhere"};
        QTest::newRow("equal links") << links << links << true;
        QTest::newRow("extra pipe") << QByteArrayList{"fifo b/p"} << none << false;
        QTest::newRow("a pipe and a link") << QByteArrayList{"fifo b/p"} << QByteArrayList{"link b/p x"} << false;
        QTest::newRow("equal pipes") << QByteArrayList{"fifo b/p"} << QByteArrayList{"fifo b/p"} << true;
        const QByteArrayList unread = {"unread a/1.jpg"};
        QTest::newRow("unreadable on both sides") << unread << unread << false;
    }
    void everyEntryDecides()
    {
        QFETCH(QByteArrayList, left);
        QFETCH(QByteArrayList, right);
        QFETCH(bool, copies);
        static int run = 0;
        const QByteArray root = TrashTest::ResolvedRoot() + "/entries" + QByteArray::number(++run);
        QByteArrayList unread;
        for (const auto& [side, made] : {std::pair{"/left/", left}, std::pair{"/right/", right}}) {
            MakeLibrary(root + side);
            for (const QByteArray& entry : made) {
                const QByteArrayList words = entry.split(' ');
                const QByteArray path = root + side + words[1];
                if (words[0] == "link")
                    QCOMPARE(symlink(words[2].constData(), path.constData()), 0);
                else if (words[0] == "fifo")
                    QCOMPARE(mkfifo(path.constData(), 0644), 0);
                else
                    QCOMPARE(chmod((unread << path).last().constData(), 0), 0);
            }
        }
        QProcess p;
        p.setChildProcessModifier(TestSupport::CFileModesObeyed::RestrictChild);
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QStringLiteral("--folders"),
                                             QStringLiteral("--format=json"), QFile::decodeName(root)});
        QVERIFY(p.waitForFinished(60000));
        for (const QByteArray& path : unread)
            chmod(path.constData(), 0644);
        QCOMPARE(p.exitCode(), 0);
        bool together = false;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const QJsonArray folders = QJsonDocument::fromJson(line).object().value(QStringLiteral("folders")).toArray();
            together = together || (folders.contains(QFile::decodeName(root + "/left"))
                                    && folders.contains(QFile::decodeName(root + "/right")));
        }
        QCOMPARE(together, copies);
    }
};

SORVANE_TEST_MAIN(TestFolders)
#include "tst_folders.moc"
