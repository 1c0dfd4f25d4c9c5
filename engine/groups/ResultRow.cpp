#include "ResultRow.h"

#include <ctime>

std::string CResultRow::ModifiedBytes() const
{
    if (!hasModified)
        return std::string();
    const time_t t = static_cast<time_t>(modified);
    struct tm local = {};
    char date[128] = "";
    char time[128] = "";
    if (localtime_r(&t, &local)) {
        if (strftime(date, sizeof date, "%x", &local) == 0)
            date[0] = '\0';
        if (strftime(time, sizeof time, "%X", &local) == 0)
            time[0] = '\0';
    }
    return std::string(date) + ' ' + time;
}

QString CResultRow::ModifiedText() const
{
    return QString::fromLocal8Bit(ModifiedBytes());
}
