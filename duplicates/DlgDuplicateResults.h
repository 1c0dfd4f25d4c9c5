#pragma once

#include "ResultsFill.h"
#include "SelectionRules.h"
#include "WorkerThread.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace ContentCheck {
struct CProgress;
}


class CColorListCtrl;
class CResultsModel;
class QLabel;
class QProgressBar;
class QMenu;
class QMessageBox;

// The modal window with the size groups: it fills on a worker while the
// caution message is read, and acts on checked or selected rows.
class CDlgDuplicateResults : public QDialog {
    Q_OBJECT
public:
    CDlgDuplicateResults(CFillInput input, QWidget* parent);
    ~CDlgDuplicateResults() override;

    CColorListCtrl* ResultsList() const { return m_list; }
    CResultsModel* Model() const { return m_model; }
    QMenu* ContextMenu() const { return m_menu; }
    bool IsFilling() const { return m_worker.IsRunning() && !m_fillDone; }

    void OnCheckAll();
    void OnUnCheckAll();
    void OnDisplayInExplorer();
    void OnSendToRecycleBin();
    // The selection helpers act on the selected rows' groups, or on every group.
    void OnCheckAllButNewest();
    void OnCheckAllButOldest();
    // The folder of row (the one under the cursor when the menu opened) and below.
    void OnCheckInFolderOf(int row);
    void OnCheckMatching(const QString& wildcard);
    void OnInvertChecks();
    void OnRestoreLastTrashed();
    // "N Group(s), ... " under the list.
    QString SummaryText() const;

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void StartFill();
    void StopFill();
    void OnFillBatch(unsigned generation, const std::vector<CResultRow>& batch, const std::shared_ptr<const void>& arenas);
    void OnFillFinished(unsigned generation, bool completed, CFillResult result, std::vector<int32_t> sameAs);
    void SaveColumnWidths();
    void BuildCommands();
    SelectionRules::GroupSet SelectedGroups() const;
    QString SummaryText(const SelectionRules::CFigures& figures) const;
    void UpdateSummary();

    CFillInput m_input;
    CColorListCtrl* m_list;
    CResultsModel* m_model;
    QMenu* m_menu;
    QLabel* m_summary = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QTimer m_progressTimer;
    bool m_contents = false;  // this fill compares contents
    std::shared_ptr<ContentCheck::CProgress> m_progress;
    int m_rowUnderMenu = -1;
    QPointer<QMessageBox> m_caution;
    CWorkerThread m_worker;
    // Each fill's number: what an older fill still had queued is dropped.
    unsigned m_generation = 0;
    bool m_fillDone = false;
    bool m_started = false;
};
