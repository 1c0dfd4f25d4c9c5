#include "TestSupport.h"

#include "AppTexts.h"
#include "FileFilters.h"
#include "OptionsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <QRandomGenerator>

#include <atomic>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestOptionsStore : public QObject {
    Q_OBJECT

    static QString SettingsFile()
    {
        return TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane/") + QLatin1String(Res::kAppTitle)
            + QStringLiteral(".conf");
    }
    static QString ConfigHome() { return TestSupport::TempRoot() + QStringLiteral("/xdg_config_home"); }
    static QByteArray Folder() { return QFile::encodeName(QFileInfo(SettingsFile()).path()); }
    static QByteArray Elsewhere() { return QFile::encodeName(TestSupport::TempRoot()) + "/elsewhere"; }
    static void WriteRaw(const QString& name, const QVariant& value)
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(Res::kOrganisation),
                    QLatin1String(Res::kAppTitle));
        s.setValue(QStringLiteral("Settings/") + name, value);
    }
    static QByteArray Bytes(const QByteArray& path)
    {
        QFile f(QFile::decodeName(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    // Names in a folder, to see that nothing was left behind.
    static QStringList Names(const QByteArray& folder)
    {
        return QDir(QFile::decodeName(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    static mode_t Mode(const QByteArray& path)
    {
        struct stat st;
        return stat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    static void RemoveAll(const QByteArray& path)
    {
        struct stat st;
        if (lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            QDir(QFile::decodeName(path)).removeRecursively();
        else
            ::unlink(path.constData());
    }

    QStringList m_failures;  // names the failure handler was told

private slots:
    void init()
    {
        m_failures.clear();
        COptionsStore::SetWriteFailureHandler([this](const QString& name) { m_failures << name; });
    }
    void cleanup()
    {
        COptionsStore::SetWriteFailureHandler({});
        [[maybe_unused]] const int owned = chown(QFile::encodeName(ConfigHome()).constData(), geteuid(), getegid());
        RemoveAll(Folder());
        RemoveAll(Elsewhere());
        COptionsStore::ClearOverrides();
    }

    // An empty store reads every value's default through the one table, and writes nothing.
    void emptyStoreGivesDefaults()
    {
        COptionsStore store;
        for (const COptionDef* def : Opt::kFlags)
            QCOMPARE(store.Read(*def), unsigned(def->defaultValue));
        int width = -1;
        QVERIFY(Opt::NumericDefault(QStringLiteral("Results Column 4"), &width));
        QCOMPARE(store.ReadInt(QStringLiteral("Results Column 4"), width), 100u);
        QString text;
        store.GetInfoBarText(text);
        QCOMPARE(text, QStringLiteral("Information Bar"));
        QVERIFY(!QFile::exists(SettingsFile()));
    }

    void writesLandInTheUsersFileAndToggleFlips()
    {
        COptionsStore store;
        QVERIFY(store.WriteInt(QStringLiteral("IgnoreHiddenFiles"), 5));
        QVERIFY(QFile::exists(SettingsFile()));
        QVERIFY(store.IsOn(Opt::IgnoreHiddenFiles));
        QCOMPARE(store.Toggle(Opt::IgnoreHiddenFiles), false);
        QCOMPARE(store.Read(Opt::IgnoreHiddenFiles), 0u);
        QCOMPARE(store.Toggle(Opt::IgnoreHiddenFiles), true);
        QCOMPARE(COptionsStore().Read(Opt::IgnoreHiddenFiles), 1u);

        const QString odd = QStringLiteral("/home/u/100% done, \"quoted\" = x;y");
        store.SetLastFolderSelected(odd);
        QString back;
        COptionsStore().GetLastFolderSelected(back);
        QCOMPARE(back, odd);
    }

    // A write is read back at once even at the same size within the same
    // clock tick: each version of the file is later than the last, to the
    // millisecond, as QSettings' cache of what it read needs.
    void eachWriteIsSeenAtOnce()
    {
        COptionsStore store;
        QVERIFY(store.WriteInt(QStringLiteral("ViewFilesCount"), 0));
        const QByteArray path = QFile::encodeName(SettingsFile());
        const timespec later[2] = {{time(nullptr) + 3600, 0}, {time(nullptr) + 3600, 0}};
        QCOMPARE(utimensat(AT_FDCWD, path.constData(), later, 0), 0);
        for (int i = 1; i <= 30; ++i) {
            QVERIFY(store.WriteInt(QStringLiteral("ViewFilesCount"), i % 2));
            QCOMPARE(store.Read(Opt::ViewFilesCount), unsigned(i % 2));
            QCOMPARE(AppSettingsFile().value(QStringLiteral("Settings/ViewFilesCount")).toInt(), i % 2);
        }
        struct stat st;
        QCOMPARE(stat(path.constData(), &st), 0);
        QVERIFY(st.st_mtim.tv_sec == later[0].tv_sec && st.st_mtim.tv_nsec == 30 * 1000000);
    }

    void valuesThatAreNotNumbersReadAsDefault_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<unsigned>("expected");
        QTest::newRow("trailing junk") << QVariant(QStringLiteral("12abc")) << 1u;
        QTest::newRow("empty") << QVariant(QString()) << 1u;
        QTest::newRow("list") << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")}) << 1u;
        QTest::newRow("too big") << QVariant(QStringLiteral("99999999999")) << 1u;
        QTest::newRow("zero") << QVariant(QStringLiteral("0")) << 0u;
        QTest::newRow("negative is on") << QVariant(QStringLiteral("-3")) << unsigned(-3);
    }
    void valuesThatAreNotNumbersReadAsDefault()
    {
        QFETCH(QVariant, stored);
        QFETCH(unsigned, expected);
        WriteRaw(QStringLiteral("SearchSubFolders"), stored);
        QCOMPARE(COptionsStore().Read(Opt::SearchSubFolders), expected);
    }

    void onlyARegularFileOfSaneSizeIsRead()
    {
        const QByteArray path = QFile::encodeName(SettingsFile());
        QCOMPARE(AppSettingsPath(), SettingsFile());
        QCOMPARE(AppSettingsFile().fileName(), SettingsFile());
        QVERIFY(QDir().mkpath(QFileInfo(SettingsFile()).path()));

        // A FIFO: a writer stands ready each time, so a reader that opens it
        // gets the text instead of blocking; it must not be opened at all.
        QCOMPARE(mkfifo(path.constData(), 0644), 0);
        std::atomic<int> opened{0};
        struct CWriter {
            QByteArray path;
            std::atomic<int>& opened;
            std::atomic<bool> done{false};
            std::thread thread{[this] {
                for (;;) {
                    const int fd = ::open(path.constData(), O_WRONLY);
                    const QByteArray text = "[Settings]\nSearchSubFolders=0\nApplicationLook=212\n";
                    if (fd >= 0 && !done)
                        ++opened;
                    if (fd < 0 || done || ::write(fd, text.constData(), size_t(text.size())) < 0) {
                        ::close(fd);
                        return;
                    }
                    ::close(fd);
                }
            }};
            ~CWriter()
            {
                done = true;
                const int release = ::open(path.constData(), O_RDONLY | O_NONBLOCK);  // ends the writer's open
                thread.join();
                ::close(release);
            }
        };
        {
            CWriter writer{path, opened};
            QCOMPARE(COptionsStore().Read(Opt::SearchSubFolders), 1u);
            QVERIFY(!AppSettingsFile().value(QStringLiteral("ApplicationLook")).isValid());
            QVERIFY(!COptionsStore().WriteInt(QStringLiteral("ViewFilesCount"), 1));
        }
        QCOMPARE(opened.load(), 0);
        struct stat st;
        QVERIFY(lstat(path.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QFile::remove(SettingsFile());

        // A file far bigger than any this program writes.
        {
            QFile big(SettingsFile());
            QVERIFY(big.open(QIODevice::WriteOnly));
            big.write("[Settings]\nSearchSubFolders=0\n");
            const QByteArray line = "; " + QByteArray(1000, 'x') + "\n";
            while (big.size() <= kMaxSettingsFileSize)
                big.write(line);
        }
        QCOMPARE(COptionsStore().Read(Opt::SearchSubFolders), 1u);
    }

    void theFileIsParsedAgainOnlyWhenItChanged()
    {
        WriteRaw(QStringLiteral("SearchSubFolders"), 0);
        // One run of reads: one parse, even of a file that has just changed.
        int before = COptionsStore::FileParses();
        const COptionsStore::CValues values = COptionsStore().Values();
        for (const COptionDef* def : Opt::kFlags)
            values.Read(*def);
        QCOMPARE(values.Read(Opt::SearchSubFolders), 0u);
        QCOMPARE(COptionsStore::FileParses(), before + 1);

        // Separate reads of a file last changed a while ago: one parse.
        const QByteArray path = QFile::encodeName(SettingsFile());
        const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
        QCOMPARE(utimensat(AT_FDCWD, path.constData(), old, 0), 0);
        COptionsStore store;
        before = COptionsStore::FileParses();
        for (int i = 0; i < 20; ++i)
            QCOMPARE(store.Read(Opt::SearchSubFolders), 0u);
        QCOMPARE(COptionsStore::FileParses(), before + 1);

        // Each change is seen by the next read, even at the same size and time.
        for (const int value : {1, 0, 1}) {
            WriteRaw(QStringLiteral("SearchSubFolders"), value);
            QCOMPARE(utimensat(AT_FDCWD, path.constData(), old, 0), 0);
            QCOMPARE(store.Read(Opt::SearchSubFolders), unsigned(value));
        }
        QVERIFY(store.WriteInt(QStringLiteral("SearchSubFolders"), 0));
        QCOMPARE(store.Read(Opt::SearchSubFolders), 0u);
    }

    void overridesShadowButAreNeverStored()
    {
        COptionsStore store;
        store.WriteInt(QStringLiteral("ViewFilesCount"), 0);
        COptionsStore::SetOverride(QStringLiteral("ViewFilesCount"), 1);
        COptionsStore::SetOverride(QStringLiteral("InfoBarText"), QStringLiteral("over"));
        QVERIFY(store.IsOn(Opt::ViewFilesCount));
        QString text;
        store.GetInfoBarText(text);
        QCOMPARE(text, QStringLiteral("over"));
        COptionsStore::ClearOverrides();
        QVERIFY(!store.IsOn(Opt::ViewFilesCount));
        store.GetInfoBarText(text);
        QCOMPARE(text, QStringLiteral("Information Bar"));
    }

    // The filters' texts: sizes beyond 32 bits, units as the lists show them, and what is refused.
    void filterValues_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("error");  // empty: read
        QTest::addColumn<quint64>("minimum");
        QTest::newRow("bytes past 2^32") << "MinimumFileSize" << "5000000000" << "" << quint64(5000000000);
        QTest::newRow("KB") << "MinimumFileSize" << "2 KB" << "" << quint64(2048);
        QTest::newRow("MiB, any case") << "MinimumFileSize" << "1.5mib" << "" << quint64(1572864);
        QTest::newRow("GB") << "MinimumFileSize" << "3GB" << "" << quint64(3) * 1024 * 1024 * 1024;
        QTest::newRow("empty") << "MinimumFileSize" << "" << "" << quint64(0);
        QTest::newRow("no unit known") << "MinimumFileSize" << "2 XB" << "not a size" << quint64(0);
        QTest::newRow("negative") << "MaximumFileSize" << "-1" << "not a size" << quint64(0);
        QTest::newRow("fraction of a byte") << "MaximumFileSize" << "1.5" << "not a size" << quint64(0);
        QTest::newRow("past 64 bits") << "MaximumFileSize" << "20000000000 GB" << "not a size" << quint64(0);
        QTest::newRow("minimum above maximum") << "MaximumFileSize" << "1" << "lies above" << quint64(0);
        QTest::newRow("pattern with a slash") << "SkipNames" << "ok\na/b" << "holds a '/'" << quint64(0);
    }
    void filterValues()
    {
        QFETCH(QString, setting);
        QFETCH(QString, value);
        QFETCH(QString, error);
        QFETCH(quint64, minimum);
        if (error == QLatin1String("lies above"))
            COptionsStore::SetOverride(QLatin1String(Opt::MinimumFileSize), QStringLiteral("2"));
        WriteRaw(setting, value);  // read from the file as the window stores it
        CFileFilters filters;
        QString why;
        QCOMPARE(FileFilters::Load(COptionsStore().Values(), &filters, &why), error.isEmpty());
        QVERIFY2(why.contains(error), qPrintable(why));
        QCOMPARE(filters.unusable, !error.isEmpty());
        if (error.isEmpty())
            QCOMPARE(filters.minimumSize, minimum);
    }

    void namePatterns_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArrayList>("matching");
        QTest::addColumn<QByteArrayList>("notMatching");
        QTest::newRow("star") << QByteArray("*.tmp") << QByteArrayList{"a.tmp", ".tmp", "x.y.tmp"}
                              << QByteArrayList{"a.tmpx", "atmp"};
        QTest::newRow("exact") << QByteArray("node_modules") << QByteArrayList{"node_modules"}
                               << QByteArrayList{"node_modules2", "Node_modules"};
        QTest::newRow("question, bytes") << QByteArray("?b") << QByteArrayList{"ab", "\xff" "b"} << QByteArrayList{"b", "\xc3\xa9" "b"};
        QTest::newRow("sets") << QByteArray("[a-c!]x[!0-9]") << QByteArrayList{"bxy", "!xz"} << QByteArrayList{"dxy", "ax5"};
        QTest::newRow("unclosed set, escape") << QByteArray("[ab\\*") << QByteArrayList{"[ab*"} << QByteArrayList{"[abc", "a"};
        QTest::newRow("stars back-track") << QByteArray("*a*b") << QByteArrayList{"aab", "xaxxb", "ab"} << QByteArrayList{"ba", "aaba"};
    }
    void namePatterns()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArrayList, matching);
        QFETCH(QByteArrayList, notMatching);
        const std::string_view p(pattern.constData(), size_t(pattern.size()));
        for (const QByteArray& name : matching)
            QVERIFY2(FileFilters::Matches(p, std::string_view(name.constData(), size_t(name.size()))), name.constData());
        for (const QByteArray& name : notMatching)
            QVERIFY2(!FileFilters::Matches(p, std::string_view(name.constData(), size_t(name.size()))), name.constData());
    }

    // Run as root in a folder or through links another user controls, a write
    // must not land anywhere: the settings file could be made to stand for
    // any file of the system. Nothing is written and the failure is told.
    void refusesWhatAnotherUserControls_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("their link to our file") << "ours" << "their link";
        QTest::newRow("their folder, their link") << "theirs" << "their link";
        QTest::newRow("their folder, our link") << "theirs" << "our link";
        QTest::newRow("their folder, our file") << "theirs" << "ours";
        QTest::newRow("their link as the folder") << "their link" << "ours";
        QTest::newRow("our link to their link") << "ours" << "our link to theirs";
        QTest::newRow("their file") << "ours" << "theirs";
    }
    void refusesWhatAnotherUserControls()
    {
        if (geteuid() != 0)
            QSKIP("needs root to give files to another user");
        QFETCH(QString, folder);
        QFETCH(QString, file);
        constexpr uid_t kOther = 65534;
        const QByteArray conf = QFile::encodeName(SettingsFile());
        const QByteArray victim = Elsewhere() + "/victim";
        const QByteArray text = "[Settings]\nSearchSubFolders=1\n";
        TestSupport::MakeDir(Elsewhere());
        TestSupport::WriteFile(victim, text);
        QCOMPARE(chmod(victim.constData(), 0640), 0);
        if (folder == QLatin1String("their link")) {
            QCOMPARE(symlink(Elsewhere().constData(), Folder().constData()), 0);
            QCOMPARE(lchown(Folder().constData(), kOther, kOther), 0);
        } else {
            TestSupport::MakeDir(Folder());
        }
        if (file == QLatin1String("ours") || file == QLatin1String("theirs")) {
            QCOMPARE(rename(victim.constData(), conf.constData()), 0);
            if (file == QLatin1String("theirs"))
                QCOMPARE(chown(conf.constData(), kOther, kOther), 0);
        } else if (file == QLatin1String("our link to theirs")) {
            QCOMPARE(symlink((Elsewhere() + "/theirs").constData(), conf.constData()), 0);
            QCOMPARE(symlink(victim.constData(), (Elsewhere() + "/theirs").constData()), 0);
            QCOMPARE(lchown((Elsewhere() + "/theirs").constData(), kOther, kOther), 0);
        } else {
            QCOMPARE(symlink(victim.constData(), conf.constData()), 0);
            if (file == QLatin1String("their link"))
                QCOMPARE(lchown(conf.constData(), kOther, kOther), 0);
        }
        if (folder == QLatin1String("theirs"))
            QCOMPARE(chown(Folder().constData(), kOther, kOther), 0);
        struct stat before;
        QCOMPARE(lstat(conf.constData(), &before), 0);
        const QStringList namesHere = Names(Folder()), namesThere = Names(Elsewhere());

        COptionsStore store;
        const COutcome written = store.WriteInt(QStringLiteral("SearchSubFolders"), 0);
        QVERIFY(!written && !written.Text().isEmpty());  // said why, as the trash and the links say it
        QCOMPARE(m_failures, QStringList{QStringLiteral("SearchSubFolders")});
        struct stat after;
        QCOMPARE(lstat(conf.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(Bytes(conf), text);
        QCOMPARE(Mode(conf), mode_t(0640));
        QCOMPARE(Names(Folder()), namesHere);
        QCOMPARE(Names(Elsewhere()), namesThere);
        QCOMPARE(store.Read(Opt::SearchSubFolders), 1u);
    }

    // Nor does root leave a folder of its own in a user's config home, where
    // the user could not write afterwards.
    void makesNoFolderInAnotherUsersConfigHome()
    {
        if (geteuid() != 0)
            QSKIP("needs root to give files to another user");
        QCOMPARE(chown(QFile::encodeName(ConfigHome()).constData(), 65534, 65534), 0);
        QVERIFY(!COptionsStore().WriteInt(QStringLiteral("SearchSubFolders"), 0));
        QCOMPARE(m_failures.size(), 1);
        QVERIFY(!QFileInfo::exists(QFile::decodeName(Folder())));
    }

    // The user's own links, to a folder and to a file, are followed and kept,
    // and so is the file's mode; a file without its owner's write bit is the
    // user saying read-only, and is left alone.
    void keepsTheUsersLinksAndMode()
    {
        const QByteArray target = Elsewhere() + "/real/Sorvane.conf";
        TestSupport::MakeDir(Elsewhere());
        TestSupport::MakeDir(Elsewhere() + "/real");
        TestSupport::WriteFile(target, "[Settings]\nViewFilesCount=1\n");
        QCOMPARE(chmod(target.constData(), 0600), 0);
        QCOMPARE(symlink(Elsewhere().constData(), Folder().constData()), 0);
        QCOMPARE(symlink("real/Sorvane.conf", (Elsewhere() + "/" + Res::kAppTitle + ".conf").constData()), 0);

        COptionsStore store;
        QVERIFY(store.WriteInt(QStringLiteral("SearchSubFolders"), 0));
        struct stat st;
        QVERIFY(lstat(Folder().constData(), &st) == 0 && S_ISLNK(st.st_mode));
        QVERIFY(lstat(QFile::encodeName(SettingsFile()).constData(), &st) == 0 && S_ISLNK(st.st_mode));
        QCOMPARE(Mode(target), mode_t(0600));
        QVERIFY(Bytes(target).contains("SearchSubFolders=0"));
        QVERIFY(Bytes(target).contains("ViewFilesCount=1"));
        QCOMPARE(Names(Elsewhere() + "/real"), QStringList{QStringLiteral("Sorvane.conf")});

        QCOMPARE(chmod(target.constData(), 0444), 0);
        const QByteArray kept = Bytes(target);
        QVERIFY(!store.WriteInt(QStringLiteral("SearchSubFolders"), 1));
        QCOMPARE(m_failures, QStringList{QStringLiteral("SearchSubFolders")});
        QCOMPARE(Bytes(target), kept);
        QCOMPARE(Mode(target), mode_t(0444));
        QCOMPARE(store.Read(Opt::SearchSubFolders), 0u);
    }

    // A write that fails leaves the file byte for byte, reads back as the file
    // holds it, and is not carried into the next write; a file that cannot be
    // parsed is not rewritten by a write that reports failing.
    void aFailedWriteChangesNothing()
    {
        const QByteArray conf = QFile::encodeName(SettingsFile());
        COptionsStore store;
        QVERIFY(store.WriteInt(QStringLiteral("SearchSubFolders"), 0));
        const QStringList names = Names(Folder());

        // Root may make the file immutable: the new text is written, then cannot take its place.
        const int fd = open(conf.constData(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        const bool flagged = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        int immutable = flags | FS_IMMUTABLE_FL;
        if (flagged && ioctl(fd, FS_IOC_SETFLAGS, &immutable) == 0) {
            const QByteArray kept = Bytes(conf);
            const bool written = store.WriteInt(QStringLiteral("SearchSubFolders"), 1).IsDone();
            QCOMPARE(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
            QVERIFY(!written);
            QCOMPARE(m_failures, QStringList{QStringLiteral("SearchSubFolders")});
            QCOMPARE(Bytes(conf), kept);
            QCOMPARE(Names(Folder()), names);
            QCOMPARE(store.Read(Opt::SearchSubFolders), 0u);
            QVERIFY(store.WriteInt(QStringLiteral("ViewFilesCount"), 1));
            QVERIFY(Bytes(conf).contains("SearchSubFolders=0"));
        }
        close(fd);
        m_failures.clear();

        QByteArray garbage(3 << 20, '\0');
        QRandomGenerator random(7);
        for (char& c : garbage)
            c = char(random.generate());
        TestSupport::WriteFile(conf, garbage);
        QVERIFY(!store.WriteInt(QStringLiteral("SearchSubFolders"), 1));
        QCOMPARE(m_failures.size(), 1);
        QVERIFY(Bytes(conf) == garbage);
        QCOMPARE(Names(Folder()), names);
    }
};

SORVANE_TEST_MAIN(TestOptionsStore)
#include "tst_optionsstore.moc"
