#pragma once

#include "AppHelper.h"
#include "ListModels.h"
#include "ListingHandOver.h"
#include "WorkerThread.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QMenu;
class QMessageBox;
class QSplitter;
class QTableView;

// The main view: the top file list, the folder list below it, and the
// listing run. The walk runs on its own thread and hands rows to the UI
// thread in batches; no widget is touched off the UI thread.
class CSorvaneView : public QWidget {
    Q_OBJECT
public:
    using FolderSource = std::function<QString()>;

    explicit CSorvaneView(FolderSource selectedFolder, QWidget* parent = nullptr);
    ~CSorvaneView() override;

    void OnInitialUpdate();
    void OnStartListing();
    void OnStopListing();
    void OnViewFilesCount();
    void OnAutoListToggle();
    // Command 327, and Yes at the end of a run: the size groups of the last listing.
    void OnDuplicateSearch();
    // The same over whole folders: copies found by their names and bytes.
    void OnDuplicateFolderSearch();
    // Command 321: the listed files' paths into a new temporary file, opened as text.
    void OnExportFileList();
    // Writes the export file; its name, or empty with the reason in *error.
    QByteArray WriteExportFile(QString* error) const;
    // Command 330: the listed files' paths into a file the user picks, as UTF-8 lines or CSV.
    void OnSaveFileListAs();

    // A row command of the two lists (Cmd::ViewSelectedFile ... Cmd::LocateFileInExplorer).
    void OnRowCommand(int command);
    QMenu* FileListMenu() const { return m_menuFileList; }
    QMenu* FolderListMenu() const { return m_menuFolderList; }
    // Stops a running walk and waits for its thread (closing the window).
    void StopAndJoin();
    void SaveColumnWidths();

    // One run: Walking from Start, Stopping after Stop while the walk unwinds,
    // Summarising while the summary, its question and anything opened from it show.
    enum class ERunState { Idle, Walking, Stopping, Summarising };
    ERunState RunState() const { return m_runState; }
    // From Start until the run is Idle again.
    bool IsListing() const { return m_runState != ERunState::Idle; }
    // Until Stop, or until the walk ends of itself.
    bool CanStop() const { return m_runState == ERunState::Walking && m_helper.IsListing(); }
    bool IsWalking() const { return m_walker.IsRunning(); }

    QTableView* FileList() const { return m_listFiles; }
    QTableView* FolderList() const { return m_listFolders; }
    CFileListModel* FileModel() const { return m_fileModel; }
    CFolderListModel* FolderModel() const { return m_folderModel; }

    bool m_bDisplayFileList = false;
    // The hand-over is the walk's sink: nothing of this widget runs on the walk thread.
    CListingHandOver m_handOver;
    CAppHelper m_helper{m_handOver};
    // The listed files when they are not displayed as rows; filled by the walk.
    CPathArray m_arrFiles;
    COptionsStore m_options;
    QString m_strStatus;
    // The short file-count status the main frame shows; UI thread only.
    const QString& GetListingStatus() const { return m_strListingStatus; }

signals:
    // The stored information text and the listing status changed.
    void ListingStatusChanged();
    // Start, Stop and the other run-dependent commands may have changed state.
    void CommandStateChanged();
    // A folder went to the trash: the folder tree must refresh.
    void FolderTreeChanged();
    // The lists are set up and start-up may take down its splash window.
    void InitialUpdated();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayoutLists();
    // The listed files, as rows when they are displayed, else as the walk kept them.
    int ListedCount() const;
    std::string_view ListedPath(int i) const;
    void ApplyFolderListVisibility();
    void SaveListSplit();
    void DrainPending();
    void OnWalkFinished();
    void AddStatusRow(const QString& text);
    void SetHeaderTitles();
    void OpenDuplicateResults(bool folders = false);
    // The filters that were on and the folder the results compare with, for the information bar.
    QString InfoBarAdditions() const;
    void BuildMenus();
    int SelectedRow(QTableView* list) const;

    FolderSource m_selectedFolder;
    QSplitter* m_split = nullptr;
    QTableView* m_listFiles = nullptr;
    QTableView* m_listFolders = nullptr;
    CFileListModel* m_fileModel = nullptr;
    CFolderListModel* m_folderModel = nullptr;
    bool m_columnsReady = false;
    bool m_closing = false;
    ERunState m_runState = ERunState::Idle;

    QString m_strListingStatus;
    CWalkResult m_walkResult;  // the walk thread's until it is joined
    CWorkerThread m_walker;    // its stop flag is the walk's token
    QTimer m_drainTimer;

    QPointer<QMessageBox> m_question;
    QMenu* m_menuFileList = nullptr;
    QMenu* m_menuFolderList = nullptr;
};
