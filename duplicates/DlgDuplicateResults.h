#pragma once

#include "ResultsFill.h"
#include "WorkerThread.h"

#include <QDialog>
#include <QPointer>


class CColorListCtrl;
class CResultsModel;
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

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void StartFill();
    void StopFill();
    void OnFillBatch(unsigned generation, const std::vector<CResultRow>& batch, const std::shared_ptr<const void>& arenas);
    void OnFillFinished(unsigned generation, bool completed, CFillResult result);
    void SaveColumnWidths();

    CFillInput m_input;
    CColorListCtrl* m_list;
    CResultsModel* m_model;
    QMenu* m_menu;
    QPointer<QMessageBox> m_caution;
    CWorkerThread m_worker;
    // Each fill's number: what an older fill still had queued is dropped.
    unsigned m_generation = 0;
    bool m_fillDone = false;
    bool m_started = false;
};
