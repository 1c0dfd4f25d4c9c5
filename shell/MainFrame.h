#pragma once

#include "CommandIds.h"
#include "OptionsStore.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>

class CFolderTree;
class CInfoBar;
class COutlookBar;
class CRibbonBar;
class CSorvaneDoc;
class CSorvaneView;
class QAction;
class QLabel;
class QMenu;

// The main window: ribbon with the information bar under it, the folder
// pane on the left, the view in the middle and the two-pane status bar.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CSorvaneDoc* doc, QWidget* parent = nullptr);
    ~CMainFrame() override;

    QAction* Command(int id) const { return m_actions.value(id); }
    CSorvaneView* View() const { return m_view; }
    CRibbonBar* Ribbon() const { return m_ribbon; }
    CFolderTree* FolderTree() const { return m_folderTree; }
    CInfoBar* InfoBar() const { return m_infoBar; }
    QLabel* FolderPane() const { return m_folderPane; }
    QLabel* FileCountPane() const { return m_fileCountPane; }
    QMenu* ApplicationMenu() const { return m_appMenu; }
    const QString& SelectedFolder() const { return m_selectedFolder; }
    unsigned CurrentLook() const { return m_look; }

    void ShowSelectedFolder(const QString& path);
    // Makes path (exact text of a native path, see DecodeNativeExact) the selected folder.
    void SelectFolder(const QString& path);
    // Size, place, maximised state and the folder pane's width, for the next start.
    void SaveWindowState();
    void ShowInfoText(const QString& text);
    // Sets every command's enabled state and check mark from the stored values.
    void UpdateCommandUI();
    // Opens a document file from the command line or the recent list.
    bool OpenDocument(const QString& path);

    // The four notices, always delivered queued.
    void OnFolderSelected();
    void OnListingStatusChanged();
    void OnStepLook();
    void OnRefreshFolderTree();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(int id, const QString& text, bool checkable = false);
    void BuildCommands();
    void BuildDocumentCommands();
    void BuildRibbon();
    void BuildApplicationMenu();
    void BuildStatusBar();
    void RestoreSelectedFolder();
    void ApplyLook(unsigned id);
    // The launchers' folder: the selected one, else the documents folder, else home.
    QString LauncherFolder() const;
    void OnOpenTerminal();
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    bool OnFileSaveAs();
    void AddRecentDocument(const QString& path);

    CSorvaneDoc* m_doc;
    QLabel* m_fileCountPane = nullptr;
    QString m_selectedFolder;
    COptionsStore m_options;
    CRibbonBar* m_ribbon = nullptr;
    QLabel* m_folderPane = nullptr;
    COutlookBar* m_outlookBar = nullptr;
    CFolderTree* m_folderTree = nullptr;
    CInfoBar* m_infoBar = nullptr;
    CSorvaneView* m_view = nullptr;
    QMenu* m_appMenu = nullptr;
    QMenu* m_recentMenu = nullptr;
    QHash<int, QAction*> m_actions;
    QTimer m_updateTimer;
    unsigned m_look = Cmd::LookOffice2007Blue;
};
