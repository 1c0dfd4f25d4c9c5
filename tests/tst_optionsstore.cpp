#include "TestSupport.h"

#include "AppTexts.h"
#include "OptionsStore.h"

#include <QFile>
#include <QSettings>

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

    void emptyStoreGivesDefaults()
    {
        COptionsStore store;
        const QList<QPair<const char*, unsigned>> expected = {
            {"IgnoreWindowsFolder", 1},      {"IgnoreProgramsFolder", 1}, {"IgnoreHiddenFiles", 1},
            {"IgnoreReadOnlyFiles", 0},      {"SearchSubFolders", 1},     {"ViewFilesCount", 0},
            {"IgnoreRecycleBinFolder", 0},   {"AutoListLastFolderAtStartup", 0},
            {"IgnoreLocalAppDataFolder", 1}, {"IgnoreHiddenFolders", 1},  {"DisplayFileList", 0},
            {"0 Column 0", 100}, {"0 Column 2", 250}, {"1 Column 1", 500}, {"1 Column 2", 125},
            {"Results Column 0", 60}, {"Results Column 2", 250}, {"Results Column 4", 100},
        };
        for (const auto& [name, value] : expected) {
            int def = -1;
            QVERIFY2(Opt::NumericDefault(QLatin1String(name), &def), name);
            QCOMPARE(store.ReadInt(QLatin1String(name), def), value);
        }
        QString text;
        store.GetInfoBarText(text);
        QCOMPARE(text, QStringLiteral("Information Bar"));
        store.GetLastFolderSelected(text);
        QVERIFY(text.isEmpty());
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
