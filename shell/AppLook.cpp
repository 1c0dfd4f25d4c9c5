#include "AppLook.h"

#include "AppTexts.h"
#include "CommandIds.h"

#include <QSettings>

namespace {
constexpr char kKey[] = "ApplicationLook";
}  // namespace

namespace AppLook {

unsigned Stored()
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(Res::kOrganisation),
                QString::fromUtf8(Res::kAppTitle));
    bool ok = false;
    const qlonglong v = s.value(QLatin1String(kKey)).toString().toLongLong(&ok);
    return ok && v >= 0 && v <= 0xFFFFFFFFLL ? unsigned(v) : unsigned(Cmd::LookOffice2007Blue);
}

void Store(unsigned id)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(Res::kOrganisation),
                QString::fromUtf8(Res::kAppTitle));
    s.setValue(QLatin1String(kKey), id);
}

unsigned Next(unsigned id)
{
    const unsigned next = id + 1;
    return next > unsigned(Cmd::LookLast) ? unsigned(Cmd::LookOffice2007Blue) : next;
}

QString MenuText(unsigned id)
{
    static const char* const texts[] = {"Windows &2000", "Office &XP", "&Windows XP", "Office 200&3",
                                        "Visual Studio.NET 200&5", "Office 2007 (&Blue Style)",
                                        "Office 2007 (B&lack Style)", "Office 2007 (&Silver Style)",
                                        "Office 2007 (&Aqua Style)"};
    return id >= unsigned(Cmd::LookFirst) && id <= unsigned(Cmd::LookLast) ? QString::fromUtf8(texts[id - Cmd::LookFirst])
                                                                         : QString();
}

}  // namespace AppLook
