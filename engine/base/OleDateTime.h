#pragma once

#include <QString>

// A span in days between two date-times.
class COleDateTimeSpan {
public:
    enum DateTimeSpanStatus { valid = 0, invalid = 1 };
    static constexpr double kMaxDays = 3615897.0;

    COleDateTimeSpan() = default;
    explicit COleDateTimeSpan(double days);
    COleDateTimeSpan(long days, int hours, int minutes, int seconds);

    double m_span = 0.0;
    DateTimeSpanStatus m_status = valid;

private:
    void CheckRange();
};

// An automation date (days since 1899-12-30 00:00; below zero the integer part
// counts days back and the fraction still runs forward) with a status.
class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTime() = default;
    COleDateTime(double value, DateTimeStatus status = valid) : m_dt(value), m_status(status) {}
    // A local calendar date and time; invalid when out of 100..9999 or not a real date.
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    static COleDateTime GetCurrentTime();

    // Splits the value into calendar fields; false when out of range.
    bool GetAsDateTime(int* year, int* month, int* day, int* hour, int* minute, int* second) const;

    COleDateTime operator-(const COleDateTimeSpan& span) const;
    COleDateTimeSpan operator-(const COleDateTime& other) const;
    bool operator>(const COleDateTime& other) const;
    bool operator==(const COleDateTime& other) const;
    bool operator>=(const COleDateTime& other) const { return *this > other || *this == other; }

    double m_dt = 0.0;
    DateTimeStatus m_status = valid;
};

// The time of day alone in the user's format, e.g. "4:03:24 PM" or "16:03:24".
QString FormatTime(const COleDateTime& dt);
// "1 Day 2 Hours 3 Minutes 4 Seconds"; the empty text for spans under half a second or negative.
QString FormatDuration(const COleDateTimeSpan& span);
// The time-of-day pattern used by FormatTime: the locale's long time format without its time zone.
QString TimeOfDayFormat(const class QLocale& locale);
