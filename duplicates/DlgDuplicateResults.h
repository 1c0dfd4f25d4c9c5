#pragma once

#include "ResultsFill.h"

#include <QDialog>
#include <QPointer>

#include <atomic>
#include <thread>

class CColorListCtrl;
class CResultsModel;
class QMenu;
class QMessageBox;

// The modal window with the size groups: it fills on a worker while the
// caution message is read, and acts on checked or selected rows.
class CDlgDuplicateResults : public QDialog {
    Q_OBJECT
public:
    enum Command { DisplayInExplorer = 32803, SendToRecycleBin = 32806, CheckAll = 32799, UnCheckAll = 32801 };

    CDlgDuplicateResults(CFillInput input, QWidget* parent);
    ~CDlgDuplicateResults() override;

    CColorListCtrl* ResultsList() const { return m_list; }
    CResultsModel* Model() const { return m_model; }
    QMenu* ContextMenu() const { return m_menu; }
    bool IsFilling() const { return m_worker.joinable() && !m_fillDone; }

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
    void OnFillFinished(bool completed, CFillResult result);
    void SaveColumnWidths();

    CFillInput m_input;
    CColorListCtrl* m_list;
    CResultsModel* m_model;
    QMenu* m_menu;
    QPointer<QMessageBox> m_caution;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
    bool m_fillDone = false;
    bool m_started = false;
};
