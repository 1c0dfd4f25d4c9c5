#include "OleDateTime.h"

#include <QLocale>
#include <QTime>

#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

// Dates outside 0100-01-01 .. 9999-12-31 cannot be represented.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958465.99999;
constexpr double kHalfSecond = 5.787037037037037e-06;

// Days from 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*m <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

double Linear(double d)
{
    if (d >= 0)
        return d;
    const double c = std::ceil(d);
    return c - (d - c);
}

double FromLinear(double r)
{
    if (r >= 0)
        return r;
    const double f = std::floor(r);
    return f + (f - r);
}

}  // namespace

COleDateTimeSpan::COleDateTimeSpan(double days)
    : m_span(days)
{
    CheckRange();
}

COleDateTimeSpan::COleDateTimeSpan(long days, int hours, int minutes, int seconds)
    : m_span(days + hours / 24.0 + minutes / 1440.0 + seconds / 86400.0)
{
    CheckRange();
}

void COleDateTimeSpan::CheckRange()
{
    m_status = (m_span >= -kMaxDays && m_span <= kMaxDays) ? valid : invalid;
}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second)
{
    const bool fieldsOk = year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && hour >= 0
        && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
    int y = 0, m = 0, d = 0;
    if (fieldsOk)
        CivilFromDays(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)), &y, &m, &d);
    if (!fieldsOk || y != year || m != month || d != day) {
        m_status = invalid;
        return;
    }
    const double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays);
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    m_dt = days >= 0 ? days + time : days - time;
    m_status = valid;
}

COleDateTime COleDateTime::GetCurrentTime()
{
    const time_t now = time(nullptr);
    struct tm local = {};
    if (now == static_cast<time_t>(-1) || !localtime_r(&now, &local))
        return COleDateTime(0.0, invalid);
    const COleDateTime dt(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
    if (dt.m_status != valid)
        return dt;
    // The value must round-trip to the same fields, or it is not trusted.
    int y, mo, d, h, mi, s;
    if (!dt.GetAsDateTime(&y, &mo, &d, &h, &mi, &s) || y != local.tm_year + 1900 || mo != local.tm_mon + 1
        || d != local.tm_mday || h != local.tm_hour || mi != local.tm_min || s != local.tm_sec)
        return COleDateTime(dt.m_dt, invalid);
    return dt;
}

bool COleDateTime::GetAsDateTime(int* year, int* month, int* day, int* hour, int* minute, int* second) const
{
    if (!(m_dt >= kMinDate && m_dt <= kMaxDate))
        return false;
    int64_t days = static_cast<int64_t>(std::trunc(m_dt));
    int64_t secs = std::llround(std::fabs(m_dt - std::trunc(m_dt)) * 86400.0);
    if (secs >= 86400) {
        // Rounding reached midnight: the next day, forward in time on either side of the epoch.
        secs -= 86400;
        days += 1;
    }
    CivilFromDays(days + kEpochDays, year, month, day);
    *hour = static_cast<int>(secs / 3600);
    *minute = static_cast<int>(secs / 60 % 60);
    *second = static_cast<int>(secs % 60);
    return true;
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& span) const
{
    // Arithmetic on an invalid or null date keeps that status rather than inventing a valid one.
    if (m_status != valid)
        return *this;
    return COleDateTime(FromLinear(Linear(m_dt) - span.m_span), valid);
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& other) const
{
    COleDateTimeSpan span(Linear(m_dt) - Linear(other.m_dt));
    if (m_status != valid || other.m_status != valid)
        span.m_status = COleDateTimeSpan::invalid;
    return span;
}

bool COleDateTime::operator>(const COleDateTime& other) const
{
    return m_status == valid && other.m_status == valid && Linear(other.m_dt) < Linear(m_dt);
}

bool COleDateTime::operator==(const COleDateTime& other) const
{
    if (m_status != other.m_status)
        return false;
    return (m_status == valid && m_dt == other.m_dt) || m_status == null;
}

QString TimeOfDayFormat(const QLocale& locale)
{
    // The long format carries seconds; drop its time-zone fields ('t' runs) outside quotes.
    const QString longFormat = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : longFormat) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

QString FormatTime(const COleDateTime& dt)
{
    static const QString kInvalid = QStringLiteral("Invalid DateTime");
    if (dt.m_status == COleDateTime::null)
        return QString();
    int y, mo, d, h, mi, s;
    if (dt.m_status != COleDateTime::valid || !dt.GetAsDateTime(&y, &mo, &d, &h, &mi, &s))
        return kInvalid;
    const QLocale locale = QLocale::system();
    return locale.toString(QTime(h, mi, s), TimeOfDayFormat(locale));
}

QString FormatDuration(const COleDateTimeSpan& span)
{
    const double x = span.m_span + (span.m_span >= 0 ? kHalfSecond : -kHalfSecond);
    // 64-bit parts: the seconds of a long span do not fit in 32 bits.
    const int64_t days = static_cast<int64_t>(std::trunc(x));
    const int64_t hours = static_cast<int64_t>(std::trunc(x * 24)) % 24;
    const int64_t minutes = static_cast<int64_t>(std::trunc(x * 1440)) % 60;
    const int64_t seconds = static_cast<int64_t>(std::trunc(x * 86400)) % 60;

    QString text;
    auto add = [&text](int64_t n, const char* one, const char* many) {
        if (n > 0)
            text += QString::number(n) + QLatin1String(n == 1 ? one : many);
    };
    add(days, " Day ", " Days ");
    add(hours, " Hour ", " Hours ");
    add(minutes, " Minute ", " Minutes ");
    add(seconds, " Second", " Seconds");
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}
