#pragma once

#include <QString>
#include <QStringList>

// The first shown of lines, one a line, then a line "…" when more were left
// out: how a message names a list that may be long.
QString FirstLines(const QStringList& lines, int shown);
