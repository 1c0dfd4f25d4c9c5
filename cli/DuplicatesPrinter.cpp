#include "DuplicatesPrinter.h"

#include "ContentCheck.h"
#include "SelectionRules.h"

#include <string>

namespace {

// A JSON string of a path in its escaped form: exact bytes survive any text tool.
void AppendJsonString(std::string& line, std::string_view bytes)
{
    const QByteArray text = EscapePath(bytes, true).toUtf8();
    line += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            line += '\\';
        line += c;
    }
    line += '"';
}

}  // namespace

void CDuplicatesPrinter::Print(const std::vector<CResultRow>& rows, EFormat format, COutput& out)
{
    if (format == EFormat::Json) {
        PrintJson(rows, out);
        return;
    }
    std::string line;
    int64_t lastModified = -1;
    std::string modifiedText;
    const bool nuls = format == EFormat::Nuls;
    const char separator = nuls ? '\0' : '\t';
    for (size_t index = 0; index < rows.size(); ++index) {
        const CResultRow& row = rows[index];
        // Neighbouring rows often share a time: format each distinct one once.
        if (!row.hasModified) {
            modifiedText.clear();
            lastModified = -1;
        } else if (row.modified != lastModified) {
            modifiedText = row.ModifiedBytes();
            lastModified = row.modified;
        }
        line = std::to_string(index + 1);
        ((line += separator) += row.Name()) += separator;
        (line += row.FolderWithSlash()) += separator;
        if (row.opened)
            line += std::to_string(row.sizeKey);
        (((line += separator) += modifiedText) += separator) += std::to_string(row.group);
        if (nuls)
            line += separator;
        line += nuls ? '\0' : '\n';
        out.Write(line);
    }
}

void CDuplicatesPrinter::PrintJson(const std::vector<CResultRow>& rows, COutput& out)
{
    std::string line;
    for (size_t first = 0; first < rows.size();) {
        size_t last = first + 1;
        while (last < rows.size() && rows[last].group == rows[first].group)
            ++last;
        const CResultRow& head = rows[first];
        line = "{\"group\":" + std::to_string(head.group) + ",\"size\":"
            + (head.opened ? std::to_string(head.sizeKey) : std::string("null")) + ",\"files\":[";
        for (size_t i = first; i < last; ++i) {
            line += i > first ? ",{\"path\":" : "{\"path\":";
            AppendJsonString(line, rows[i].Path());
            line += ",\"sr\":" + std::to_string(i + 1);
            if (rows[i].hasModified)
                line += ",\"modified\":" + std::to_string(rows[i].modified);
            if (rows[i].failure) {
                line += ",\"reason\":";
                AppendJsonString(line, ContentCheck::FailureText(rows[i].failure));
            }
            line += '}';
        }
        line += "]}\n";
        out.Write(line);
        first = last;
    }
}

QString CDuplicatesPrinter::ReclaimableLine(const std::vector<CResultRow>& rows)
{
    const SelectionRules::CFigures f = SelectionRules::Figures(rows);
    return QStringLiteral("%1 Group(s), %2 File(s), %3 Byte(s) Reclaimable.").arg(f.groups).arg(f.files).arg(f.reclaimable);
}
