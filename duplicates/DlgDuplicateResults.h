#pragma once

#include "AppHelper.h"
#include "FolderGroups.h"
#include "LinkOps.h"
#include "ResultsFill.h"
#include "Search.h"
#include "SelectionRules.h"
#include "SpaceMapLayout.h"
#include "WorkerThread.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

namespace ContentCheck {
struct CProgress;
}


class CColorListCtrl;
class CSpaceMap;
class QSplitter;
class CResultsModel;
class QLabel;
class QProgressBar;
class QMenu;
class QMessageBox;

// A folder whose files the results group together with the listed ones, listed on the fill's worker
// with the listing's options and filters.
struct CCompareWith {
    QByteArray folder;  // native path; empty: none
    QByteArray listed;  // the listed folder, to tell one inside the other
    bool reference = true;  // its files are never proposed, and groups wholly inside it are left out
    std::optional<CWalkOptions> options;  // the listing's; else read from the settings
};

// The modal window with the size groups: it fills on a worker while the
// caution message is read, and acts on checked or selected rows.
class CDlgDuplicateResults : public QDialog {
    Q_OBJECT
public:
    // With folders, the groups are of copied folders (what the listing entered and could not read).
    CDlgDuplicateResults(CFillInput input, QWidget* parent, std::shared_ptr<const FolderGroups::CTree> folders = nullptr,
                         CCompareWith compare = {});
    ~CDlgDuplicateResults() override;

    CColorListCtrl* ResultsList() const { return m_list; }
    CResultsModel* Model() const { return m_model; }
    QMenu* ContextMenu() const { return m_menu; }
    bool IsFilling() const { return m_worker.IsRunning() && !m_fillDone; }

    void OnCheckAll();
    void OnUnCheckAll();
    void OnDisplayInExplorer();
    void OnSendToRecycleBin();
    // Each checked row becomes a link to the copy its group keeps (an unchecked row, one in a
    // protected folder first); only after a content check.
    void OnReplaceWithLinks();
    // Protects the folder of row (a copied folder's row: that folder), or stops protecting it.
    void OnProtectFolderOf(int row);
    // The selection helpers act on every group, or with selectedOnly on the selected rows' groups.
    void OnCheckAllButNewest(bool selectedOnly = false);
    void OnCheckAllButOldest(bool selectedOnly = false);
    // The folder of row (the one under the cursor when the menu opened) and below.
    void OnCheckInFolderOf(int row, bool selectedOnly = false);
    void OnCheckMatching(const QString& wildcard, bool selectedOnly = false);
    void OnInvertChecks(bool selectedOnly = false);
    // Stops a content check under way; the size groups stay, said to be by size only.
    void OnStopComparing();
    void OnRestoreLastTrashed();
    // "N Group(s), ... " under the list.
    QString SummaryText() const;
    // What the notice says of the folder compared with, or empty.
    QString CompareNote() const { return m_compareNote; }
    // What the last action did ("3 copies replaced with links; 12 KiB freed."), or empty.
    QString LastDone() const { return m_lastDone; }

    // Found on the fill's worker: rows that are one file or share all their blocks (SameFiles), and
    // what a link in each row's place can free (empty without a finished content check).
    struct CSpaceFacts {
        std::vector<int32_t> sameAs;
        std::vector<SelectionRules::ELink> links;
        SpaceMapLayout::CFlatRows flat;  // the picture's copy of the rows, when it is shown
        std::vector<Search::CStage> stages;  // what survived each stage of the search
    };

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StartFill();
    void StopFill();
    void OnFillBatch(unsigned generation, const std::vector<CResultRow>& batch, const std::shared_ptr<const void>& arenas);
    // sized: the size groups were complete (the content check may still have been stopped).
    // compareNote: what listing the folder compared with found to say; compareListed: it was listed whole.
    void OnFillFinished(unsigned generation, bool completed, bool sized, CFillResult result, CSpaceFacts facts,
                        const QString& compareNote = {}, bool compareListed = false);
    // Whether the folder compared with is listed on its own, its reference and what the notice says of it.
    void PlanCompare();
    CProtectedFolders ProtectedSet() const;
    // The input of a fill: the listing, then the folder compared with once it is listed.
    CFillInput FillInput() const;
    // On the fill's worker: the folder compared with into files; what the notice should say of it.
    struct CCompareProgress {
        std::atomic<bool> listing{false};
        std::atomic<int> files{0};
    };
    static QString ListCompareFolder(const QByteArray& folder, const CWalkOptions& options, CPathArray& files,
                                     CCompareProgress& progress, const std::atomic<bool>& stop, bool* whole);
    void ShowCompareProgress();
    // The caution, once the groups are what it says.
    void ShowCaution();
    // Says what an action did in the figures line and the status bar.
    void SetDone(const QString& text);
    void ShowStatus();
    void SaveColumnWidths();
    void BuildCommands();
    void BuildList();
    void BuildProgressRow(class QVBoxLayout* layout);
    void ConnectContextMenu();
    void BuildToolBars(const QList<QAction*>& helpers, QAction* restore);
    SelectionRules::GroupSet Scope(bool selectedOnly) const;
    void AskForWildcard(bool selectedOnly);
    void ToggleCurrentCheck();
    QString SummaryText(const SelectionRules::CFigures& figures) const;
    void UpdateSummary();
    // Copied folders' files, each paired with its counterpart in the folder kept.
    // from: for each file, the index of its folder in folders.
    std::vector<LinkOps::CItem> FilesOfFolders(const std::vector<LinkOps::CItem>& folders, std::vector<size_t>* from) const;
    // What a batch of links would do with the checked rows: a file and the copy it links to, per item.
    struct CLinkPlan {
        std::vector<LinkOps::CItem> items;
        std::vector<bool> hardOnly;  // per item: its file system cannot share blocks
        size_t checkedRows = 0;      // rows behind the items (folders, in copied-folder mode)
        size_t alreadyOne = 0;       // checked files already one with the copy kept
        QStringList keptLines, wholeGroups;
    };
    CLinkPlan PlanLinks() const;
    // Asks, saying what the plan does; false for No. hardLinks: the user allowed hard links.
    bool ConfirmLinks(const CLinkPlan& plan, bool* hardLinks);
    // Says what the batch did (a box for refusals), then lists again when anything changed.
    void ReportLinks(const LinkOps::CReport& report, size_t asked);
    void BuildSpaceMap(QSplitter* splitter);
    // The picture after a fill (cleared while one runs).
    // Without flat, the map's copy of the rows is made here.
    void UpdateSpaceMap(SpaceMapLayout::CFlatRows flat = {});
    // Selects the rows in folder and below it.
    void SelectRowsIn(const QByteArray& folder);
    // The warning for checked protected rows, or empty.
    QString ProtectedCaution() const;
    // What Protect This Folder toggles for row.
    std::string_view FolderToProtect(int row) const;

    CFillInput m_input;
    CCompareWith m_compare;
    bool m_compareListing = false;          // the folder compared with is listed apart from the listing
    QByteArray m_reference;                 // what the reference folder's rows start with; empty: none
    QString m_compareNote;                  // what the notice says of the folder compared with
    std::shared_ptr<CPathArray> m_compareFiles;  // its files, as long as rows point into them
    bool m_compareListed = false;           // m_compareFiles holds the whole folder
    std::shared_ptr<CCompareProgress> m_compareProgress = std::make_shared<CCompareProgress>();
    std::shared_ptr<const FolderGroups::CTree> m_folders;  // null: groups of files
    CColorListCtrl* m_list;
    CResultsModel* m_model;
    CSpaceMap* m_map = nullptr;
    QSplitter* m_split = nullptr;
    QMenu* m_menu;
    QAction* m_trashAction = nullptr;
    QAction* m_linkAction = nullptr;
    QWidget* m_actionsBar = nullptr;  // the trash and Undo, never folded
    QLabel* m_summary = nullptr;
    QLabel* m_status = nullptr;        // the status bar's text: what is going on, or what was done
    QString m_lastDone;
    std::vector<SelectionRules::ELink> m_links;  // per row of the model, once a content check finished
    QProgressBar* m_progressBar = nullptr;
    QWidget* m_progressRow = nullptr;  // the bar and its Stop button
    QLabel* m_notice = nullptr;        // why the groups are not what was asked for
    bool m_stopAsked = false;
    QTimer m_progressTimer;
    bool m_contents = false;  // this fill compares contents
    std::shared_ptr<ContentCheck::CProgress> m_progress;
    int m_rowUnderMenu = -1;
    QPointer<QMessageBox> m_caution;
    CWorkerThread m_worker;
    // Each fill's number: what an older fill still had queued is dropped.
    unsigned m_generation = 0;
    bool m_fillDone = false;
    int m_groupsShown = 0;  // of the figures last worked out, for the status bar
    std::vector<Search::CStage> m_stages;  // of the last finished fill
    bool m_started = false;
    bool m_cautionShown = false;
};
