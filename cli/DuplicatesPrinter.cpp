#include "DuplicatesPrinter.h"

#include "ContentCheck.h"

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

// The Last Modified text of recent times. Rows come by size, so their times
// jump about, yet a tree holds far fewer distinct times than files.
class CTimeTexts {
public:
    const std::string& Of(const CResultRow& row)
    {
        if (!row.hasModified)
            return m_none;
        CSlot& slot = m_slots[static_cast<uint64_t>(row.modified) % kSlots];
        if (!slot.used || slot.time != row.modified) {
            slot.text = row.ModifiedBytes();
            slot.time = row.modified;
            slot.used = true;
        }
        return slot.text;
    }

private:
    static constexpr size_t kSlots = 1024;
    struct CSlot {
        int64_t time = 0;
        bool used = false;
        std::string text;
    };
    CSlot m_slots[kSlots];
    std::string m_none;
};

}  // namespace

void CDuplicatesPrinter::Print(const std::vector<CResultRow>& rows, size_t firstSr, EFormat format, COutput& out,
                               bool opens, bool closes)
{
    if (format == EFormat::Json) {
        PrintJson(rows, firstSr, out, opens, closes);
        return;
    }
    std::string line;
    static CTimeTexts times;  // kept from slice to slice; one printer runs at a time
    const bool nuls = format == EFormat::Nuls;
    const char separator = nuls ? '\0' : '\t';
    for (size_t index = 0; index < rows.size(); ++index) {
        const CResultRow& row = rows[index];
        line = std::to_string(firstSr + index);
        ((line += separator) += row.Name()) += separator;
        (line += row.FolderWithSlash()) += separator;
        if (row.opened)
            line += std::to_string(row.sizeKey);
        (((line += separator) += times.Of(row)) += separator) += std::to_string(row.group);
        if (nuls)
            line += separator;
        line += nuls ? '\0' : '\n';
        out.Write(line);
    }
}

void CDuplicatesPrinter::PrintJson(const std::vector<CResultRow>& rows, size_t firstSr, COutput& out, bool opens, bool closes)
{
    // A group's line is written as it goes, so a large group needs no room of its own.
    std::string part;
    for (size_t first = 0; first < rows.size();) {
        size_t last = first + 1;
        while (last < rows.size() && rows[last].group == rows[first].group)
            ++last;
        const CResultRow& head = rows[first];
        const bool continued = first == 0 && !opens;
        if (!continued) {
            out.Write("{\"group\":" + std::to_string(head.group) + ",\"size\":"
                      + (head.opened ? std::to_string(head.sizeKey) : std::string("null")) + ",\"files\":[");
        }
        for (size_t i = first; i < last; ++i) {
            part = i > first || continued ? ",{\"path\":" : "{\"path\":";
            AppendJsonString(part, rows[i].Path());
            part += ",\"sr\":" + std::to_string(firstSr + i);
            if (rows[i].hasModified)
                part += ",\"modified\":" + std::to_string(rows[i].modified);
            if (rows[i].failure) {
                part += ",\"reason\":";
                AppendJsonString(part, ContentCheck::FailureText(rows[i].failure));
            }
            part += '}';
            out.Write(part);
        }
        if (last < rows.size() || closes)
            out.Write(std::string_view("]}\n"));
        first = last;
    }
}

QString CDuplicatesPrinter::ReclaimableLine(const SelectionRules::CFigures& f)
{
    return QStringLiteral("%1 Group(s), %2 File(s), %3 Byte(s) Reclaimable.").arg(f.groups).arg(f.files).arg(f.reclaimable);
}

void CDuplicatesPrinter::PrintFolders(const std::vector<FolderGroups::CFolderRow>& rows, EFormat format, COutput& out)
{
    std::string line;
    if (format == EFormat::Json) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const FolderGroups::CFolderRow& r = rows[i];
            const bool opens = i == 0 || rows[i - 1].group != r.group;
            const bool closes = i + 1 == rows.size() || rows[i + 1].group != r.group;
            line = opens ? "{\"group\":" + std::to_string(r.group) + ",\"size\":" + std::to_string(r.bytes) + ",\"files\":"
                               + std::to_string(r.files) + ",\"folders\":["
                         : std::string(",");
            AppendJsonString(line, r.path);
            if (closes)
                line += "]}\n";
            out.Write(line);
        }
        return;
    }
    const bool nuls = format == EFormat::Nuls;
    const char separator = nuls ? '\0' : '\t';
    for (const FolderGroups::CFolderRow& r : rows) {
        line = std::to_string(r.group);
        (((line += separator) += std::to_string(r.bytes)) += separator) += std::to_string(r.files);
        (line += separator) += r.path;
        if (nuls)
            line += separator;
        line += nuls ? '\0' : '\n';
        out.Write(line);
    }
}

QString CDuplicatesPrinter::FoldersLine(const std::vector<FolderGroups::CFolderRow>& rows)
{
    int32_t groups = 0;
    for (size_t i = 0; i < rows.size(); ++i)
        groups += i == 0 || rows[i - 1].group != rows[i].group ? 1 : 0;
    return QStringLiteral("%1 Group(s) of Copied Folders, %2 Folder(s).").arg(groups).arg(rows.size());
}
