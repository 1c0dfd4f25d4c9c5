#include "FileFilters.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

bool CFileFilters::SkipsName(std::string_view name) const
{
    for (const std::string& pattern : skipNames) {
        if (FileFilters::Matches(pattern, name))
            return true;
    }
    return false;
}

namespace FileFilters {

bool ParseSize(const QString& text, uint64_t* bytes, QString* error)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d+))?\\s*(?:([KMGT])(?:I?B)?|B)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (text.trimmed().isEmpty()) {
        *bytes = 0;
        return true;
    }
    const QRegularExpressionMatch m = form.match(text);
    bool ok = m.hasMatch();
    unsigned shift = 0;
    if (ok && m.capturedLength(3))
        shift = 10 * unsigned(QStringLiteral("KMGT").indexOf(m.captured(3).toUpper()) + 1);
    // A fraction only with a unit: "1.5" bytes means nothing.
    ok = ok && (m.capturedLength(2) == 0 || shift > 0);
    const uint64_t whole = ok ? m.captured(1).toULongLong(&ok) : 0;
    if (ok && (shift >= 64 || whole > (std::numeric_limits<uint64_t>::max() >> shift)))
        ok = false;
    if (!ok) {
        *error = QStringLiteral("'%1' is not a size: give bytes, or a number with KB, MB or GB (1024-based)").arg(text);
        return false;
    }
    uint64_t n = whole << shift;
    if (m.capturedLength(2)) {
        // The fraction's bytes, rounded down: at most 40 bits of unit, so a double holds them exactly enough.
        const double fraction = QStringLiteral("0.%1").arg(m.captured(2)).toDouble();
        const uint64_t extra = uint64_t(std::floor(fraction * double(uint64_t(1) << shift)));
        if (n > std::numeric_limits<uint64_t>::max() - extra) {
            *error = QStringLiteral("'%1' is too large a size").arg(text);
            return false;
        }
        n += extra;
    }
    *bytes = n;
    return true;
}

bool CheckPattern(const QString& pattern, QString* error)
{
    if (pattern.isEmpty())
        *error = QStringLiteral("an empty name pattern matches nothing");
    else if (pattern.contains(QLatin1Char('/')))
        *error = QStringLiteral("the name pattern '%1' holds a '/': patterns match single names, not paths").arg(pattern);
    else if (pattern.contains(QLatin1Char('\n')) || pattern.contains(QLatin1Char('\r')))
        *error = QStringLiteral("a name pattern cannot hold a line break: give one pattern per line");
    else
        return true;
    return false;
}

bool ParsePatterns(const QString& lines, std::vector<std::string>* patterns, QString* error)
{
    patterns->clear();
    for (const QString& line : lines.split(QLatin1Char('\n'))) {
        if (line.isEmpty())
            continue;
        if (!CheckPattern(line, error))
            return false;
        patterns->push_back(line.toUtf8().toStdString());
    }
    return true;
}

namespace {

// The set at pattern[p] (just past '['), tested against byte c; *end is past its ']'. False when
// the set is not closed, so the '[' stands for itself.
bool MatchSet(std::string_view pattern, size_t p, unsigned char c, bool* matched, size_t* end)
{
    const bool negate = p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^');
    if (negate)
        ++p;
    bool in = false;
    for (bool first = true; p < pattern.size(); first = false) {
        if (pattern[p] == ']' && !first) {
            *matched = in != negate;
            *end = p + 1;
            return true;
        }
        unsigned char low = static_cast<unsigned char>(pattern[p]);
        if (low == '\\' && p + 1 < pattern.size())
            low = static_cast<unsigned char>(pattern[++p]);
        unsigned char high = low;
        if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
            high = static_cast<unsigned char>(pattern[p + 2]);
            p += 2;
        }
        in = in || (c >= low && c <= high);
        ++p;
    }
    return false;
}

}  // namespace

bool Matches(std::string_view pattern, std::string_view name)
{
    // Iterative with one back-track point: the last '*' seen, as fnmatch does without its flags.
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size()) {
            const char pc = pattern[p];
            if (pc == '*') {
                starP = ++p;
                starN = n;
                continue;
            }
            if (pc == '?') {
                ++p, ++n;
                continue;
            }
            if (pc == '[') {
                bool matched = false;
                size_t end = 0;
                if (MatchSet(pattern, p + 1, static_cast<unsigned char>(name[n]), &matched, &end)) {
                    if (matched) {
                        p = end, ++n;
                        continue;
                    }
                } else if (name[n] == '[') {
                    ++p, ++n;
                    continue;
                }
            } else {
                const char literal = pc == '\\' && p + 1 < pattern.size() ? pattern[p + 1] : pc;
                if (literal == name[n]) {
                    p += pc == '\\' && p + 1 < pattern.size() ? 2 : 1;
                    ++n;
                    continue;
                }
            }
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool Load(const COptionsStore::CValues& values, CFileFilters* filters, QString* error)
{
    *filters = CFileFilters();
    filters->skipEmptyFiles = values.IsOn(Opt::SkipEmptyFiles);
    QString text;
    QString why;
    const auto size = [&](const char* name, uint64_t* bytes) {
        values.ReadString(QLatin1String(name), QString(), text);
        if (ParseSize(text, bytes, &why))
            return true;
        *error = QStringLiteral("%1: %2").arg(QLatin1String(name), why);
        return false;
    };
    bool ok = size(Opt::MinimumFileSize, &filters->minimumSize) && size(Opt::MaximumFileSize, &filters->maximumSize);
    if (ok && filters->maximumSize > 0 && filters->minimumSize > filters->maximumSize) {
        *error = QStringLiteral("MinimumFileSize (%1 bytes) lies above MaximumFileSize (%2 bytes): no file could be listed")
                     .arg(filters->minimumSize)
                     .arg(filters->maximumSize);
        ok = false;
    }
    if (ok) {
        values.ReadString(QLatin1String(Opt::SkipNames), QString(), text);
        ok = ParsePatterns(text, &filters->skipNames, &why);
        if (!ok)
            *error = QStringLiteral("SkipNames: %1").arg(why);
    }
    filters->unusable = !ok;
    return ok;
}

}  // namespace FileFilters
