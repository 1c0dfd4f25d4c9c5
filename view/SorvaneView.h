#pragma once

#include "AppHelper.h"
#include "ListModels.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <mutex>
#include <thread>

class QMenu;
class QMessageBox;
class QTableView;

// The short file-count status handed from a listing run to the main frame.
// Every assignment and copy happens under one lock.
QString GetListingStatus();
void SetListingStatus(const QString& text);

// The main view: the top file list, the folder list below it, and the
// listing run. The walk runs on its own thread and hands rows to the UI
// thread in batches; no widget is touched off the UI thread.
class CSorvaneView : public QWidget, public CAppHelper {
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
    // Command 321: the listed files' paths into a new temporary file, opened as text.
    void OnExportFileList();
    // Writes the export file; its name, or empty with the reason in *error.
    QByteArray WriteExportFile(QString* error) const;

    // Row commands of the two lists.
    enum RowCommand {
        ViewSelectedFile = 32777,
        OpenFileFolder = 32779,
        OpenSelectedFolder = 32783,
        FileProperties = 32785,
        FolderPropertiesTop = 32787,
        FolderPropertiesBottom = 32789,
        SendFileToRecycleBin = 32792,
        SendFolderToRecycleBin = 32795,
        LocateFileInExplorer = 32797,
    };
    void OnRowCommand(int command);
    QMenu* FileListMenu() const { return m_menuFileList; }
    QMenu* FolderListMenu() const { return m_menuFolderList; }
    // Stops a running walk and waits for its thread (closing the window).
    void StopAndJoin();
    void SaveColumnWidths();

    // From Start until the end-of-run question and anything opened from it
    // have closed. The run flag alone drops at Stop, while the walk still unwinds.
    bool IsListing() const { return m_runActive; }
    bool CanStop() const { return m_bListing.load(std::memory_order_relaxed) != 0; }
    bool IsWalking() const { return m_thread.joinable(); }

    QTableView* FileList() const { return m_listFiles; }
    QTableView* FolderList() const { return m_listFolders; }
    CFileListModel* FileModel() const { return m_fileModel; }
    CFolderListModel* FolderModel() const { return m_folderModel; }

    bool m_bDisplayFileList = false;
    QString m_strStatus;

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
    void OnFileFound(const CFileFind& finder) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct CBatch {
        CPathArray paths;  // file rows, when the display flag is on
        std::vector<uint32_t> nameStarts;
        std::vector<std::pair<std::string, int>> folderCounts;
        std::string currentFile;
        bool hasCurrentFile = false;
        bool Empty() const { return paths.IsEmpty() && folderCounts.empty() && !hasCurrentFile; }
    };

    void LayoutLists();
    void ApplyFolderListVisibility();
    void RunWalk();
    void HandOver();
    void DrainPending();
    void OnWalkFinished();
    void AddStatusRow(const QString& text);
    void SetHeaderTitles();
    void OpenDuplicateResults();
    void BuildMenus();
    int SelectedRow(QTableView* list) const;

    FolderSource m_selectedFolder;
    QTableView* m_listFiles = nullptr;
    QTableView* m_listFolders = nullptr;
    CFileListModel* m_fileModel = nullptr;
    CFolderListModel* m_folderModel = nullptr;
    bool m_columnsReady = false;
    bool m_closing = false;
    bool m_runActive = false;

    std::thread m_thread;
    QTimer m_drainTimer;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_handOverWanted{false};
    // Listing thread only:
    CBatch m_local;
    std::string m_lastCountedFolder;
    // Shared, under m_pendingLock:
    std::mutex m_pendingLock;
    CBatch m_pending;

    QPointer<QMessageBox> m_question;
    QMenu* m_menuFileList = nullptr;
    QMenu* m_menuFolderList = nullptr;
};
