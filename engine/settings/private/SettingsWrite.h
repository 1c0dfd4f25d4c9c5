#pragma once

#include "Outcome.h"

#include <QString>
#include <QVariant>

// The settings file's place, as QSettings finds it for NativeFormat, UserScope.
QString ConfigHome();
QString PathInConfigHome();

// Sets one value in the settings file: the file is read, changed by QSettings in a private copy and
// put back whole; nothing is written unless every step succeeds.
COutcome WriteSettingsValue(const QString& group, const QString& name, const QVariant& value);
