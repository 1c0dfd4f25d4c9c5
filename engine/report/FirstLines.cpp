#include "FirstLines.h"

QString FirstLines(const QStringList& lines, int shown)
{
    return lines.mid(0, shown).join(QLatin1Char('\n')) + (lines.size() > shown ? QStringLiteral("\n…") : QString());
}
