#include "TestSupport.h"

#include "OleDateTime.h"

#include <QDateTime>
#include <QLocale>

class TestDateTime : public QObject {
    Q_OBJECT

    static COleDateTimeSpan Seconds(double s) { return COleDateTimeSpan(s / 86400.0); }

private slots:
    void durationTexts_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text");
        QTest::newRow("61 s") << 61 / 86400.0 << "1 Minute 1 Second";
        QTest::newRow("1 h") << 3600 / 86400.0 << "1 Hour";
        QTest::newRow("1d1h1m1s") << COleDateTimeSpan(1, 1, 1, 1).m_span << "1 Day 1 Hour 1 Minute 1 Second";
        QTest::newRow("2d3h") << COleDateTimeSpan(2, 3, 0, 0).m_span << "2 Days 3 Hours";
        QTest::newRow("plural") << COleDateTimeSpan(0, 2, 2, 2).m_span << "2 Hours 2 Minutes 2 Seconds";
        QTest::newRow("under half a second") << 0.49 / 86400.0 << "";
        QTest::newRow("half a second rounds up") << 0.5 / 86400.0 << "1 Second";
        QTest::newRow("zero") << 0.0 << "";
        QTest::newRow("negative") << -90 / 86400.0 << "";
        QTest::newRow("long span, no overflow") << 3000000.0 << "3000000 Days";
    }
    void durationTexts()
    {
        QFETCH(double, days);
        QFETCH(QString, text);
        QCOMPARE(FormatDuration(COleDateTimeSpan(days)), text);
    }

    void stampsWholeSecondsApartFormatExactly()
    {
        // The difference of two stamps is a little below the whole seconds.
        const COleDateTime a(2026, 12, 6, 10, 15, 2);
        const COleDateTime b(2026, 12, 6, 10, 15, 9);
        QVERIFY((b - a).m_span * 86400 < 7.0 + 1e-6);
        QCOMPARE(FormatDuration(b - a), QStringLiteral("7 Seconds"));
        QCOMPARE(FormatDuration(COleDateTime(2026, 12, 7, 0, 0, 0) - COleDateTime(2026, 12, 6, 23, 59, 59)),
                 QStringLiteral("1 Second"));
    }

    // What a run's summary can meet: a long run in every unit, and the end still a day before the start
    // (a run whose end was never stamped), which says nothing rather than something negative.
    void durationsARunCanHave()
    {
        const COleDateTime start(2026, 12, 6, 22, 58, 30);
        QCOMPARE(FormatDuration(COleDateTime(2026, 12, 8, 0, 0, 31) - start), QStringLiteral("1 Day 1 Hour 2 Minutes 1 Second"));
        QCOMPARE(FormatDuration(COleDateTime(2026, 12, 6, 23, 0, 30) - start), QStringLiteral("2 Minutes"));
        QCOMPARE(FormatDuration((start - COleDateTimeSpan(1, 0, 0, 0)) - start), QString());
        QCOMPARE(FormatDuration(start - start), QString());
    }

    void comparisonsAndStatus()
    {
        const COleDateTime a(2026, 1, 1, 0, 0, 0);
        const COleDateTime bad(5.0, COleDateTime::invalid);
        QVERIFY(!(a > bad) && !(bad > a) && !(bad == a));
        QVERIFY(COleDateTime(1.0, COleDateTime::null) == COleDateTime(2.0, COleDateTime::null));
        QVERIFY(a >= a && !(a > a));
        QCOMPARE(COleDateTime(2026, 2, 30, 0, 0, 0).m_status, COleDateTime::invalid);
        QCOMPARE((bad - COleDateTimeSpan(1.0)).m_status, COleDateTime::invalid);
        QCOMPARE(COleDateTimeSpan(3615897.0).m_status, COleDateTimeSpan::valid);
        QCOMPARE(COleDateTimeSpan(-3615898.0).m_status, COleDateTimeSpan::invalid);
    }

    void timeTextsHoldTheTimeOfDayOnly()
    {
        QCOMPARE(FormatTime(COleDateTime(0.0, COleDateTime::null)), QString());
        QCOMPARE(FormatTime(COleDateTime(0.0, COleDateTime::invalid)), QStringLiteral("Invalid DateTime"));
        QCOMPARE(FormatTime(COleDateTime(1e9)), QStringLiteral("Invalid DateTime"));
        QCOMPARE(TimeOfDayFormat(QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("h:mm:ss AP"));
        QCOMPARE(TimeOfDayFormat(QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("HH:mm:ss"));

        const QString text = FormatTime(COleDateTime(2026, 12, 6, 16, 3, 24));
        QVERIFY2(text.contains(QStringLiteral("03:24")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("2026")) && !text.contains(QStringLiteral("UTC")), qPrintable(text));
    }

    void currentTimeIsLocalAndValid()
    {
        const QDateTime before = QDateTime::currentDateTime();
        const COleDateTime now = COleDateTime::GetCurrentTime();
        QCOMPARE(now.m_status, COleDateTime::valid);
        const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
        const double expected = epoch.secsTo(before) / 86400.0;
        QVERIFY(qAbs(now.m_dt - expected) < 3.0 / 86400.0);
    }
};

int main(int argc, char** argv)
{
    TestSupport::IsolateEnvironment();
    setenv("TZ", "UTC", 1);
    QCoreApplication app(argc, argv);
    TestDateTime tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_datetime.moc"
