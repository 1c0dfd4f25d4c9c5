#pragma once

#include <QString>

// Fixed texts shared by every front end. The title doubles as the settings
// file name, so changing it loses every user's stored options.
namespace Res {
inline constexpr char kOrganisation[] = "Trellane";
inline constexpr char kAppTitle[] = "Sorvane by Trellane";
inline constexpr char kAppVersion[] = SORVANE_VERSION;  // the project version, from the build

inline QString AppTitle()
{
    return QString::fromUtf8(kAppTitle);
}
}
