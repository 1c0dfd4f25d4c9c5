// Acting on the checked rows: the trash, links in their place, Undo, protected folders, and the
// figures of what each frees.
#include "DlgDuplicateResults.h"

#include "AppTexts.h"
#include "LinkOps.h"
#include "ListingStatus.h"
#include "PathArray.h"
#include "ResultsModel.h"
#include "ShellOps.h"

#include <QCheckBox>
#include <QMessageBox>

#include <algorithm>
#include <unordered_map>

namespace {

const char kNothingChecked[] = "Check the Files which you wish to Send to Recyle Bin and then try again.";

QString Listed(const QStringList& lines, int shown)
{
    return lines.mid(0, shown).join(QLatin1Char('\n')) + (lines.size() > shown ? QStringLiteral("\n…") : QString());
}

}  // namespace

QString CDlgDuplicateResults::ProtectedCaution() const
{
    QStringList named;
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->Row(i).checked && m_model->IsProtected(i))
            named << EscapePath(m_model->Row(i).Path());
    }
    if (named.isEmpty())
        return {};
    // A copied folder goes whole, with any protected folder inside it.
    return (m_folders ? QStringLiteral("%1 checked folder(s) are protected, lie in a protected folder or hold one:\n%2")
                      : QStringLiteral("%1 checked file(s) lie in protected folders:\n%2"))
        .arg(named.size())
        .arg(Listed(named, 8));
}

void CDlgDuplicateResults::OnSendToRecycleBin()
{
    const std::vector<QByteArray> checked = m_model->CheckedPaths();
    if (checked.empty()) {
        QMessageBox::information(this, Res::AppTitle(), QString::fromUtf8(kNothingChecked));
        return;
    }
    // Said first: groups of which no copy would be left.
    QString caution;
    const std::vector<int32_t> whole = SelectionRules::FullyCheckedGroups(m_model->Rows());
    if (!whole.empty()) {
        QStringList named;
        for (const CResultRow& r : m_model->Rows()) {
            if (std::find(whole.begin(), whole.end(), r.group) != whole.end())
                named << QStringLiteral("group %1: %2").arg(r.group + 1).arg(EscapePath(r.Path()));
        }
        caution = QStringLiteral("All copies of %1 group(s) are checked: nothing of them would remain.\n%2\n\n")
                      .arg(whole.size())
                      .arg(named.mid(0, 12).join(QLatin1Char('\n')) + (named.size() > 12 ? QStringLiteral("\n…") : QString()));
    }
    if (!m_contents)
        caution += QStringLiteral("Files of equal size may differ: their contents were not compared.");
    const QString protectedCaution = ProtectedCaution();
    if (!protectedCaution.isEmpty())
        caution = protectedCaution + QStringLiteral("\n\n") + caution;
    const std::vector<QByteArray> moved = Shell().SendToRecycleBin(this, checked, m_model->CheckedIdentities(), caution.trimmed(),
                                                                   !whole.empty() || !protectedCaution.isEmpty());
    // What moved drops out with a new fill; after a refusal or a total failure nothing changes.
    if (!moved.empty())
        StartFill();
}

void CDlgDuplicateResults::OnRestoreLastTrashed()
{
    // Restored files are listed again by a new fill, as long as they were in this listing.
    if (RestoreLastTrashed(this))
        StartFill();
}

void CDlgDuplicateResults::OnReplaceWithLinks()
{
    if (!m_contents || !m_fillDone) {
        QMessageBox::information(this, Res::AppTitle(),
                                 QStringLiteral("Only files whose contents were compared are replaced with links: turn on "
                                                "Compare Contents and search again."));
        return;
    }
    // Per group, the copy kept: an unchecked row, one in a protected folder first.
    const std::vector<CResultRow>& rows = m_model->Rows();
    std::vector<LinkOps::CItem> items;
    QStringList keptLines, wholeGroups;
    for (size_t first = 0; first < rows.size();) {
        size_t last = first + 1;
        while (last < rows.size() && rows[last].group == rows[first].group)
            ++last;
        long keep = -1;
        bool anyChecked = false;
        for (size_t i = first; i < last; ++i) {
            anyChecked |= rows[i].checked;
            if (!rows[i].checked && rows[i].opened
                && (keep < 0 || (m_model->IsProtected(int(i)) && !m_model->IsProtected(int(keep)))))
                keep = long(i);
        }
        if (anyChecked && keep < 0)
            wholeGroups << QStringLiteral("group %1").arg(rows[first].group + 1);
        for (size_t i = first; anyChecked && keep >= 0 && i < last; ++i) {
            const CResultRow& k = rows[size_t(keep)];
            if (rows[i].checked && rows[i].opened)
                items.push_back({QByteArray(rows[i].path), {rows[i].dev, rows[i].ino, true}, QByteArray(k.path), {k.dev, k.ino, true}});
        }
        if (anyChecked && keep >= 0)
            keptLines << QStringLiteral("group %1 keeps %2").arg(rows[first].group + 1).arg(EscapePath(rows[size_t(keep)].Path()));
        first = last;
    }
    const size_t checkedRows = items.size();
    if (m_folders)
        items = FilesOfFolders(items);
    if (items.empty()) {
        QMessageBox::information(this, Res::AppTitle(),
                                 wholeGroups.isEmpty() ? QString::fromUtf8(kNothingChecked)
                                                       : QStringLiteral("Every copy of the checked groups is checked: a link "
                                                                        "needs one copy kept. Uncheck the one to keep."));
        return;
    }
    QString text = m_folders ? QStringLiteral("Replace the %1 file(s) of %2 checked folder(s) with links to their counterparts "
                                              "in the copy kept in their group?").arg(items.size()).arg(checkedRows)
                             : QStringLiteral("Replace %1 checked file(s) with links to the copy kept in their group?").arg(items.size());
    if (!wholeGroups.isEmpty())
        text += QStringLiteral("\n\nEvery copy of %1 group(s) is checked, so those stay as they are: %2.")
                    .arg(wholeGroups.size()).arg(wholeGroups.mid(0, 8).join(QStringLiteral(", ")));
    const QString protectedCaution = ProtectedCaution();
    if (!protectedCaution.isEmpty())
        text = protectedCaution + QStringLiteral("\n\n") + text;
    QMessageBox confirm(QMessageBox::Question, Res::AppTitle(), text, QMessageBox::Yes | QMessageBox::No, this);
    confirm.setInformativeText(Listed(keptLines, 10));
    if (keptLines.size() > 10)
        confirm.setDetailedText(keptLines.join(QLatin1Char('\n')));
    confirm.setDefaultButton(protectedCaution.isEmpty() ? QMessageBox::Yes : QMessageBox::No);
    confirm.setEscapeButton(QMessageBox::No);
    auto* hard = new QCheckBox(QStringLiteral("Where the file system cannot share blocks, make hard links instead (the "
                                              "copies go to the trash for Restore Last Trashed; linked names share one "
                                              "set of permissions and times)"));
    confirm.setCheckBox(hard);
    if (confirm.exec() != QMessageBox::Yes)
        return;

    const LinkOps::CReport report = LinkOps::Run(this, items, hard->isChecked());
    if (!report.refused.isEmpty() || !report.recordError.isEmpty() || report.stopped) {
        QMessageBox box(QMessageBox::Warning, Res::AppTitle(),
                        QStringLiteral("%1 of %2 file(s) were replaced with links, freeing %3.")
                            .arg(report.linked).arg(items.size()).arg(ListingStatus::SizeText(report.freed)),
                        QMessageBox::Ok, this);
        QStringList lines = report.refused;
        if (!report.recordError.isEmpty())
            lines.prepend(QStringLiteral("Restore Last Trashed may miss some copies: %1").arg(report.recordError));
        box.setInformativeText(Listed(lines, 10));
        if (lines.size() > 10)
            box.setDetailedText(lines.join(QLatin1Char('\n')));
        box.exec();
    }
    // Linked copies are one file with their kept copy now (or share its blocks): a new fill shows it.
    if (report.linked > 0)
        StartFill();
}

std::vector<LinkOps::CItem> CDlgDuplicateResults::FilesOfFolders(const std::vector<LinkOps::CItem>& folders) const
{
    // Each listed file below a checked folder, paired with the same relative path in the kept folder.
    std::unordered_map<std::string_view, size_t> checked;
    for (size_t i = 0; i < folders.size(); ++i)
        checked.emplace(std::string_view(folders[i].copy.constData(), size_t(folders[i].copy.size())), i);
    std::vector<LinkOps::CItem> files;
    const int count = m_input.count();
    for (int i = 0; i < count; ++i) {
        const std::string_view path = m_input.at(i);
        for (size_t slash = path.rfind('/'); slash != std::string_view::npos && slash > 0; slash = path.rfind('/', slash - 1)) {
            const auto found = checked.find(path.substr(0, slash));
            if (found == checked.end())
                continue;
            const LinkOps::CItem& folder = folders[found->second];
            files.push_back({QByteArray(path.data(), qsizetype(path.size())), {},
                             folder.keep + QByteArray(path.data() + slash, qsizetype(path.size() - slash)), {}});
            break;
        }
    }
    return files;
}

void CDlgDuplicateResults::OnProtectFolderOf(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    CProtectedFolders folders = LinkOps::ReadProtected();
    folders.Toggle(FolderToProtect(row));
    if (LinkOps::WriteProtected(folders))
        m_model->SetProtected(folders);
    UpdateSummary();
}

std::string_view CDlgDuplicateResults::FolderToProtect(int row) const
{
    // A copied folder's row is the folder itself.
    return m_folders ? m_model->Row(row).Path() : m_model->Row(row).FolderWithSlash();
}

QString CDlgDuplicateResults::SummaryText(const SelectionRules::CFigures& f) const
{
    if (m_folders) {
        QString text = QStringLiteral("%1 group(s) of copied folders, %2 folder(s).").arg(f.groups).arg(f.files);
        if (f.checkedFiles > 0)
            text += QStringLiteral(" The %1 checked folder(s) hold %2.").arg(f.checkedFiles).arg(ListingStatus::SizeText(f.checkedReclaimable));
        return text;
    }
    QString text = (m_contents ? QStringLiteral("%1 group(s) of identical files, %2 file(s): trashing all but one copy "
                                                "of each would free %3.")
                               : QStringLiteral("%1 group(s), %2 file(s): trashing all but one copy of each would free up "
                                                "to %3 if the files are identical."))
                       .arg(f.groups)
                       .arg(f.files)
                       .arg(ListingStatus::SizeText(f.reclaimable));
    if (f.checkedFiles > 0)
        text += QStringLiteral(" The %1 checked file(s) would free %2.")
                    .arg(f.checkedFiles)
                    .arg(ListingStatus::SizeText(f.checkedReclaimable));
    if (f.checkedFiles > 0 && m_contents)
        text += QStringLiteral(" Replacing them with links would free %1.").arg(ListingStatus::SizeText(f.linkReclaimable));
    return text;
}

