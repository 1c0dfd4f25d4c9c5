#include "TestSupport.h"

#include "AppTexts.h"
#include "OptionsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <atomic>
#include <fcntl.h>
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
    static void WriteRaw(const QString& name, const QVariant& value)
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(Res::kOrganisation),
                    QLatin1String(Res::kAppTitle));
        s.setValue(QStringLiteral("Settings/") + name, value);
    }

private slots:
    void cleanup()
    {
        QFile::remove(SettingsFile());
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
};

SORVANE_TEST_MAIN(TestOptionsStore)
#include "tst_optionsstore.moc"
