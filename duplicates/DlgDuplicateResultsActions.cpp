// Acting on the checked rows: the trash, links in their place, Undo, protected folders, and the
// figures of what each frees.
#include "DlgDuplicateResults.h"

#include "AppTexts.h"
#include "FirstLines.h"
#include "LinkOps.h"
#include "ListingStatus.h"
#include "PathArray.h"
#include "ResultsModel.h"
#include "ShellOps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QMessageBox>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {

const char kNothingChecked[] = "Check the Files which you wish to Send to Recyle Bin and then try again.";

// A path as a message shows it: cut in the middle, so no box grows wider than a screen's half.
QString Shown(std::string_view path)
{
    return QFontMetrics(QApplication::font()).elidedText(EscapePath(path), Qt::ElideMiddle, 440);
}

// What a batch of links did, in one sentence for the figures line and the status bar.
QString LinksDone(const LinkOps::CReport& r, size_t asked)
{
    if (r.linked == 0)
        return r.stopped ? QStringLiteral("Stopped: no copy was replaced with a link.")
                         : QStringLiteral("No copy was replaced with a link: see why in the message.");
    const bool hard = r.hardLinked == r.linked;
    const QString kind = hard ? QStringLiteral("hard links") : QStringLiteral("links");
    QString text = size_t(r.linked) == asked
                       ? (r.linked == 1 ? QStringLiteral("1 copy replaced with a %1").arg(kind.chopped(1))
                                        : QStringLiteral("%1 copies replaced with %2").arg(r.linked).arg(kind))
                       : QStringLiteral("%1 of %2 copies replaced with %3").arg(r.linked).arg(asked).arg(kind);
    const uint64_t now = r.freed - r.freedLater;
    if (r.freed == 0)
        text += QStringLiteral("; nothing freed: other names still hold the copies' data.");
    else if (r.freedLater == 0)
        text += QStringLiteral("; %1 freed.").arg(ListingStatus::SizeText(now));
    else if (now == 0)
        text += QStringLiteral("; %1 freed once the Trash is emptied (the copies wait there for Undo).")
                    .arg(ListingStatus::SizeText(r.freedLater));
    else
        text += QStringLiteral("; %1 freed, and %2 more once the Trash is emptied.")
                    .arg(ListingStatus::SizeText(now), ListingStatus::SizeText(r.freedLater));
    if (r.stopped)
        text += QStringLiteral(" Stopped before the rest.");
    else if (!r.refused.isEmpty())
        text += QStringLiteral(" %1 refused: see why in the message.").arg(r.refused.size());
    return text;
}

}  // namespace

QString CDlgDuplicateResults::ProtectedCaution() const
{
    QStringList named;
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->Row(i).checked && m_model->IsProtected(i))
            named << Shown(m_model->Row(i).Path());
    }
    if (named.isEmpty())
        return {};
    // A copied folder goes whole, with any protected folder inside it.
    return (m_folders ? QStringLiteral("%1 checked folder(s) are protected, lie in a protected folder or hold one:\n%2")
                      : QStringLiteral("%1 checked file(s) lie in protected folders:\n%2"))
        .arg(named.size())
        .arg(FirstLines(named, 8));
}

void CDlgDuplicateResults::OnSendToRecycleBin()
{
    const std::vector<QByteArray> checked = m_model->CheckedPaths();
    if (checked.empty()) {
        QMessageBox::information(this, Res::AppTitle(), QString::fromUtf8(kNothingChecked));
        return;
    }
    for (int i = 0; i < m_model->rowCount(); ++i) {
        if (m_model->Row(i).checked && m_model->IsReference(i)) {
            QMessageBox::information(this, Res::AppTitle(),
                                     QStringLiteral("%1 is in the reference folder: its files are never trashed. Uncheck it "
                                                    "and try again.").arg(Shown(m_model->Row(i).Path())));
            return;
        }
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
                      .arg(FirstLines(named, 12));
    }
    if (!m_contents)
        caution += QStringLiteral("Files of equal size may differ: their contents were not compared.");
    const QString protectedCaution = ProtectedCaution();
    if (!protectedCaution.isEmpty())
        caution = protectedCaution + QStringLiteral("\n\n") + caution;
    const std::vector<QByteArray> moved = Shell().SendToRecycleBin(this, checked, m_model->CheckedIdentities(), caution.trimmed(),
                                                                   !whole.empty() || !protectedCaution.isEmpty());
    // What moved drops out with a new fill; after a refusal or a total failure nothing changes.
    if (moved.empty())
        return;
    // What the moved rows free: each file once, and only when no row left keeps it.
    std::unordered_set<std::string_view> gone;
    for (const QByteArray& path : moved)
        gone.insert(std::string_view(path.constData(), size_t(path.size())));
    std::vector<CResultRow> rows = m_model->Rows();
    for (CResultRow& r : rows)
        r.checked = gone.count(r.Path()) != 0;
    const uint64_t freed = SelectionRules::Figures(rows, m_model->SameFiles()).checkedReclaimable;
    SetDone(QStringLiteral("%1 %2 moved to the Trash; %3 freed once it is emptied.")
                .arg(moved.size())
                .arg(m_folders ? QStringLiteral("folder(s)") : QStringLiteral("file(s)"))
                .arg(ListingStatus::SizeText(freed)));
    StartFill();
}

void CDlgDuplicateResults::OnRestoreLastTrashed()
{
    // Restored files are listed again by a new fill, as long as they were in this listing.
    if (RestoreLastTrashed(this)) {
        SetDone(QStringLiteral("The last batch was put back from the Trash, as its message said."));
        StartFill();
    }
}

CDlgDuplicateResults::CLinkPlan CDlgDuplicateResults::PlanLinks() const
{
    // Per group, the copy kept: an unchecked row, one in a protected folder first.
    CLinkPlan plan;
    const std::vector<CResultRow>& rows = m_model->Rows();
    const std::vector<int32_t>& sameAs = m_model->SameFiles();
    const auto firstOfFile = [&sameAs](size_t i) { return i < sameAs.size() && sameAs[i] >= 0 ? size_t(sameAs[i]) : i; };
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
            plan.wholeGroups << QStringLiteral("group %1").arg(rows[first].group + 1);
        for (size_t i = first; anyChecked && keep >= 0 && i < last; ++i) {
            const CResultRow& k = rows[size_t(keep)];
            if (!rows[i].checked || !rows[i].opened || m_model->IsReference(int(i)))
                continue;  // a reference folder's file may be the copy kept, never one replaced
            // Already one file with the copy kept, or sharing all its blocks: a link frees nothing.
            if (firstOfFile(i) == firstOfFile(size_t(keep))) {
                ++plan.alreadyOne;
                continue;
            }
            plan.items.push_back({QByteArray(rows[i].path), {rows[i].dev, rows[i].ino, true}, QByteArray(k.path), {k.dev, k.ino, true}});
            plan.hardOnly.push_back(i < m_links.size() && m_links[i] != SelectionRules::ELink::kShare);
        }
        if (anyChecked && keep >= 0)
            plan.keptLines << QStringLiteral("group %1 keeps %2").arg(rows[first].group + 1).arg(Shown(rows[size_t(keep)].Path()));
        first = last;
    }
    plan.checkedRows = plan.items.size();
    if (m_folders) {
        std::vector<size_t> from;
        plan.items = FilesOfFolders(plan.items, &from);
        std::vector<bool> folderHardOnly;
        folderHardOnly.swap(plan.hardOnly);
        for (const size_t folder : from)
            plan.hardOnly.push_back(folderHardOnly[folder]);
    }
    return plan;
}

bool CDlgDuplicateResults::ConfirmLinks(const CLinkPlan& plan, bool* hardLinks)
{
    const auto mustBeHard = size_t(std::count(plan.hardOnly.begin(), plan.hardOnly.end(), true));
    const size_t count = plan.items.size();
    QString text = m_folders ? QStringLiteral("Replace the %1 file(s) of %2 checked folder(s) with links to their counterparts "
                                              "in the copy kept in their group?").arg(count).arg(plan.checkedRows)
                             : QStringLiteral("Replace %1 checked file(s) with links to the copy kept in their group?").arg(count);
    if (plan.alreadyOne > 0)
        text += QStringLiteral(" %1 other checked file(s) are already one with the copy kept (the same file, or all "
                               "their blocks shared) and stay as they are.").arg(plan.alreadyOne);
    if (!plan.wholeGroups.isEmpty())
        text += QStringLiteral("\n\nEvery copy of %1 group(s) is checked, so those stay as they are: %2.")
                    .arg(plan.wholeGroups.size()).arg(plan.wholeGroups.mid(0, 8).join(QStringLiteral(", ")));
    // Known before asking: the file system was tried when the groups were made.
    if (mustBeHard > 0)
        text += (mustBeHard == count
                     ? QStringLiteral("\n\nTheir file system cannot share blocks, so these links can only be hard links.")
                     : QStringLiteral("\n\n%1 of them lie on a file system that cannot share blocks: those can only be "
                                      "hard links.").arg(mustBeHard))
                + QStringLiteral(" Hard-linked names are one file: they share one owner, one set of permissions and one "
                                 "set of times. Each copy goes to the Trash, and Restore Last Trashed puts it back.");
    const QString protectedCaution = ProtectedCaution();
    if (!protectedCaution.isEmpty())
        text = protectedCaution + QStringLiteral("\n\n") + text;
    QMessageBox confirm(QMessageBox::Question, Res::AppTitle(), text, QMessageBox::Yes | QMessageBox::No, this);
    confirm.setTextFormat(Qt::PlainText);
    confirm.setInformativeText(FirstLines(plan.keptLines, 10));
    if (plan.keptLines.size() > 10)
        confirm.setDetailedText(plan.keptLines.join(QLatin1Char('\n')));
    confirm.setDefaultButton(protectedCaution.isEmpty() ? QMessageBox::Yes : QMessageBox::No);
    confirm.setEscapeButton(QMessageBox::No);
    QCheckBox* hard = nullptr;
    if (mustBeHard > 0) {
        hard = new QCheckBox(QStringLiteral("Make hard links where blocks cannot be shared"));
        confirm.setCheckBox(hard);
        // With nothing that can share blocks, Yes would do nothing until hard links are allowed.
        if (mustBeHard == count) {
            QAbstractButton* yes = confirm.button(QMessageBox::Yes);
            yes->setEnabled(false);
            connect(hard, &QCheckBox::toggled, yes, &QAbstractButton::setEnabled);
        }
    }
    if (confirm.exec() != QMessageBox::Yes)
        return false;
    *hardLinks = hard && hard->isChecked();
    return true;
}

void CDlgDuplicateResults::ReportLinks(const LinkOps::CReport& report, size_t asked)
{
    const QString done = LinksDone(report, asked);
    if (!report.refused.isEmpty() || !report.recordError.isEmpty() || report.stopped) {
        QMessageBox box(QMessageBox::Warning, Res::AppTitle(), done, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        QStringList lines = report.refused;
        if (!report.recordError.isEmpty())
            lines.prepend(QStringLiteral("Restore Last Trashed may miss some copies: %1").arg(report.recordError));
        // Each line cut in the middle, so the box fits; the details hold them whole.
        QStringList shown;
        for (const QString& line : lines.mid(0, 10))
            shown << QFontMetrics(box.font()).elidedText(line, Qt::ElideMiddle, 520);
        box.setInformativeText(FirstLines(shown, 10) + (lines.size() > 10 ? QStringLiteral("\n…") : QString()));
        if (lines.size() > 10 || shown != lines.mid(0, 10))
            box.setDetailedText(lines.join(QLatin1Char('\n')));
        box.exec();
    }
    SetDone(done);
    // Linked copies are one file with their kept copy now (or share its blocks): a new fill shows it.
    if (report.linked > 0)
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
    const CLinkPlan plan = PlanLinks();
    if (plan.items.empty()) {
        QMessageBox::information(this, Res::AppTitle(),
                                 !plan.wholeGroups.isEmpty() ? QStringLiteral("Every copy of the checked groups is checked: a link "
                                                                              "needs one copy kept. Uncheck the one to keep.")
                                 : plan.alreadyOne > 0 ? QStringLiteral("The checked files are already one with the copy kept in "
                                                                        "their group (the same file, or all their blocks shared): "
                                                                        "a link would free nothing.")
                                                       : QString::fromUtf8(kNothingChecked));
        return;
    }
    bool hardLinks = false;
    if (!ConfirmLinks(plan, &hardLinks))
        return;
    ReportLinks(LinkOps::Run(this, plan.items, hardLinks), plan.items.size());
}

std::vector<LinkOps::CItem> CDlgDuplicateResults::FilesOfFolders(const std::vector<LinkOps::CItem>& folders,
                                                                  std::vector<size_t>* from) const
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
            from->push_back(found->second);
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
        m_model->SetProtected(ProtectedSet());
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
    // Only what some kind of link can deliver here: a file system that cannot share blocks takes hard
    // links, whose copies free their space once they leave the Trash.
    const uint64_t shared = f.linkReclaimable - f.hardLinkReclaimable;
    if (f.checkedFiles > 0 && m_contents) {
        if (f.hardLinkReclaimable == 0)
            text += QStringLiteral(" Replacing them with links would free %1.").arg(ListingStatus::SizeText(f.linkReclaimable));
        else if (shared == 0)
            text += QStringLiteral(" Replacing them with hard links (their file system cannot share blocks) would free %1 "
                                   "once their copies leave the Trash.").arg(ListingStatus::SizeText(f.hardLinkReclaimable));
        else
            text += QStringLiteral(" Replacing them with links would free %1, and %2 more once the copies made into hard "
                                   "links leave the Trash.").arg(ListingStatus::SizeText(shared), ListingStatus::SizeText(f.hardLinkReclaimable));
    }
    return text;
}

