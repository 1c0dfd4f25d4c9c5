#include "SorvaneView.h"

#include "AppTexts.h"
#include "DlgDuplicateResults.h"
#include "ListingStatus.h"
#include "ReportList.h"
#include "ShellOps.h"
#include "Texts.h"
#include "WaitCursor.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QMutex>
#include <QResizeEvent>
#include <QTableView>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Rows reach the lists about twenty times a second; a walk that outruns that
// hands over early so a batch stays small.
constexpr int kDrainIntervalMs = 50;
constexpr int kMaxBatchRows = 8192;

QMutex g_statusLock;
QString g_strListingStatus;

QTableView* MakeList(QAbstractItemModel* model, QWidget* parent)
{
    auto* list = new QTableView(parent);
    list->setModel(model);
    SetUpReportList(list, QAbstractItemView::SingleSelection);
    return list;
}


}  // namespace

QString GetListingStatus()
{
    QMutexLocker lock(&g_statusLock);
    return g_strListingStatus;
}

void SetListingStatus(const QString& text)
{
    QMutexLocker lock(&g_statusLock);
    g_strListingStatus = text;
}

CSorvaneView::CSorvaneView(FolderSource selectedFolder, QWidget* parent)
    : QWidget(parent)
    , m_selectedFolder(std::move(selectedFolder))
{
    m_bListing = 0;
    m_fileModel = new CFileListModel(this);
    m_folderModel = new CFolderListModel(this);
    m_listFiles = MakeList(m_fileModel, this);
    m_listFiles->setObjectName(QStringLiteral("fileList"));
    m_listFolders = MakeList(m_folderModel, this);
    m_listFolders->setObjectName(QStringLiteral("folderList"));
    BuildMenus();
    m_drainTimer.setInterval(kDrainIntervalMs);
    connect(&m_drainTimer, &QTimer::timeout, this, &CSorvaneView::DrainPending);
}

CSorvaneView::~CSorvaneView()
{
    StopAndJoin();
    SaveColumnWidths();
}

void CSorvaneView::OnInitialUpdate()
{
    LayoutLists();
    if (!m_columnsReady) {
        // Set up once: the status rendering retitles columns by index.
        m_columnsReady = true;
        RestoreColumnWidths(m_listFiles->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(0, i); },
                            Opt::kFileListWidths, 3);
        RestoreColumnWidths(m_listFolders->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(1, i); },
                            Opt::kFolderListWidths, 3);
    }
    ApplyFolderListVisibility();
    emit InitialUpdated();
    if (m_options.IsOn(Opt::AutoListLastFolderAtStartup))
        QMetaObject::invokeMethod(this, &CSorvaneView::OnStartListing, Qt::QueuedConnection);
}

void CSorvaneView::LayoutLists()
{
    const int w = width();
    const int h = height();
    if (m_options.IsOn(Opt::ViewFilesCount)) {
        m_listFiles->setGeometry(0, 0, w, h / 2);
        m_listFolders->setGeometry(0, h / 2, w, h / 2);
    } else {
        m_listFiles->setGeometry(0, 0, w, h);
    }
}

void CSorvaneView::ApplyFolderListVisibility()
{
    if (m_options.IsOn(Opt::ViewFilesCount)) {
        m_listFolders->show();
    } else {
        m_folderModel->Clear();
        m_listFolders->hide();
    }
}

void CSorvaneView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutLists();
}

void CSorvaneView::OnViewFilesCount()
{
    m_options.Toggle(Opt::ViewFilesCount);
    LayoutLists();
    ApplyFolderListVisibility();
}

void CSorvaneView::OnAutoListToggle()
{
    m_options.Toggle(Opt::AutoListLastFolderAtStartup);
}

void CSorvaneView::OnStopListing()
{
    m_stopRequested = true;
    m_bListing = 0;
}

void CSorvaneView::OnStartListing()
{
    if (IsListing()) {
        // Start during a run acts as Stop.
        QMetaObject::invokeMethod(this, &CSorvaneView::OnStopListing, Qt::QueuedConnection);
        return;
    }
    const QString folder = m_selectedFolder ? m_selectedFolder() : QString();
    if (folder.isEmpty()) {
        QMessageBox::information(this, Res::AppTitle(), QString::fromUtf8(Txt::SelectFolderFirst));
        return;
    }
    m_fileModel->Clear();
    m_folderModel->Clear();

    // The flag goes up before the thread exists, so no second run can start.
    m_runActive = true;
    m_bListing = 1;
    m_stopRequested = false;
    m_bDisplayFileList = m_options.IsOn(Opt::DisplayFileList);
    PrepareListing();
    SetListingStatus(QString::fromUtf8(Txt::LoadingFileList));
    m_strStatus = ListingStatus::StartedText(folder, *this);
    if (!m_bDisplayFileList)
        AddStatusRow(m_strStatus);
    m_options.SetInfoBarText(m_strStatus);
    emit ListingStatusChanged();
    SetHeaderTitles();

    m_strRootFolder = QFile::encodeName(folder);
    m_local = CBatch();
    m_pending = CBatch();
    m_lastCountedFolder.clear();
    m_handOverWanted = true;
    m_drainTimer.start();
    m_thread = std::thread([this] { RunWalk(); });
    emit CommandStateChanged();
}

void CSorvaneView::RunWalk()
{
    StartListing();
    HandOver();
    QMetaObject::invokeMethod(this, &CSorvaneView::OnWalkFinished, Qt::QueuedConnection);
}

void CSorvaneView::OnFileFound(const CFileFind& finder)
{
    // A Stop that came before the walk raised its flag still counts.
    if (m_stopRequested.load(std::memory_order_relaxed))
        m_bListing.store(0, std::memory_order_relaxed);
    const std::string_view path = finder.FilePath();
    if (m_bDisplayFileList) {
        m_local.paths.Add(path);
        m_local.nameStarts.push_back(uint32_t(path.size() - finder.FileName().size()));
    } else {
        m_arrFiles.Add(path);
    }
    if (m_bViewFilesCount) {
        const std::string_view folder = finder.Folder();
        auto& counts = m_local.folderCounts;
        if (counts.empty() || counts.back().first != folder)
            counts.emplace_back(std::string(folder), 0);
        counts.back().second = CurrentFolderFileCount();
    }
    if (m_handOverWanted.load(std::memory_order_relaxed) || m_local.paths.GetSize() >= kMaxBatchRows) {
        if (!m_bDisplayFileList) {
            m_local.currentFile.assign(path);
            m_local.hasCurrentFile = true;
        }
        HandOver();
    }
}

void CSorvaneView::HandOver()
{
    m_handOverWanted.store(false, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(m_pendingLock);
    if (m_pending.Empty()) {
        std::swap(m_pending, m_local);
        return;
    }
    for (int i = 0; i < m_local.paths.GetSize(); ++i) {
        m_pending.paths.Add(m_local.paths.At(i));
        m_pending.nameStarts.push_back(m_local.nameStarts[size_t(i)]);
    }
    for (auto& fc : m_local.folderCounts) {
        if (!m_pending.folderCounts.empty() && m_pending.folderCounts.back().first == fc.first)
            m_pending.folderCounts.back().second = fc.second;
        else
            m_pending.folderCounts.push_back(std::move(fc));
    }
    if (m_local.hasCurrentFile) {
        m_pending.currentFile.swap(m_local.currentFile);
        m_pending.hasCurrentFile = true;
    }
    m_local = CBatch();
}

void CSorvaneView::DrainPending()
{
    CBatch batch;
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        std::swap(batch, m_pending);
    }
    m_handOverWanted.store(true, std::memory_order_relaxed);
    if (!batch.paths.IsEmpty()) {
        m_fileModel->AppendFiles(batch.paths, batch.nameStarts);
        m_listFiles->scrollToBottom();
    }
    int lastFolderRow = -1;
    for (const auto& [folder, count] : batch.folderCounts)
        lastFolderRow = m_folderModel->UpdateFolder(folder, count);
    if (lastFolderRow >= 0 && m_listFolders->isVisible())
        m_listFolders->scrollTo(m_folderModel->index(lastFolderRow, 0));
    if (batch.hasCurrentFile)
        m_fileModel->SetCurrentFile(QFile::decodeName(QByteArray::fromStdString(batch.currentFile)));
}

void CSorvaneView::AddStatusRow(const QString& text)
{
    m_fileModel->AppendStatus(text);
    m_listFiles->scrollToBottom();
}

void CSorvaneView::SetHeaderTitles()
{
    m_fileModel->setHeaderData(1, Qt::Horizontal, m_bDisplayFileList ? QStringLiteral("File Name") : QStringLiteral("Status"));
    m_fileModel->setHeaderData(2, Qt::Horizontal, m_bDisplayFileList ? QStringLiteral("Folder") : QString());
}

void CSorvaneView::OnWalkFinished()
{
    if (m_thread.joinable())
        m_thread.join();
    m_drainTimer.stop();
    DrainPending();
    if (m_closing) {
        m_bListing = 0;
        m_runActive = false;
        return;
    }

    const int files = m_bDisplayFileList ? m_fileModel->rowCount() : m_arrFiles.GetSize();
    const ListingStatus::CSummary summary =
        ListingStatus::Finished(*this, m_bViewFilesCount ? m_folderModel->rowCount() : -1, files);
    m_strStatus = summary.infoBarText;
    if (!m_bDisplayFileList) {
        for (const QString& row : summary.rows)
            AddStatusRow(row);
    }
    SetListingStatus(summary.filesLine);

    if (files > 1) {
        QMessageBox box(QMessageBox::Question, Res::AppTitle(), QString::fromUtf8(Txt::AskDuplicateSearch),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        m_question = &box;
        const int answer = box.exec();
        m_question = nullptr;
        if (answer == QMessageBox::Yes && !m_closing)
            OpenDuplicateResults();
    }
    if (!m_bDisplayFileList)
        m_fileModel->SetCurrentFile(QString());

    m_options.SetInfoBarText(m_strStatus);
    emit ListingStatusChanged();
    SetHeaderTitles();
    m_bListing = 0;
    m_runActive = false;
    emit CommandStateChanged();
}

void CSorvaneView::OnDuplicateSearch()
{
    if (!IsListing())
        OpenDuplicateResults();
}

QByteArray CSorvaneView::WriteExportFile(QString* error) const
{
    // A new file each time, created exclusively, so no earlier export is overwritten.
    const QByteArray stem = QFile::encodeName(QDir::tempPath()) + "/" + Res::AppTitle().left(3).toUtf8();
    const unsigned start = unsigned(QDateTime::currentMSecsSinceEpoch() ^ getpid());
    QByteArray name;
    int fd = -1;
    for (unsigned k = 0; k <= 0xFFFFF && fd < 0; ++k) {
        name = stem + QByteArray::number((start + k) & 0xFFFFF, 16).toUpper() + ".TMP";
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }

    // UTF-16LE without a byte-order mark, CR LF between lines only.
    std::string buffer;
    int writeError = 0;
    auto flush = [&] {
        for (size_t done = 0; done < buffer.size() && !writeError;) {
            const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && errno != EINTR)
                writeError = errno;
            else if (n > 0)
                done += size_t(n);
        }
        buffer.clear();
    };
    auto append = [&](const QString& text) {
        for (const QChar c : text) {
            buffer += char(c.unicode() & 0xFF);
            buffer += char(c.unicode() >> 8);
        }
    };
    const int lines = m_bDisplayFileList ? m_fileModel->rowCount() : m_arrFiles.GetSize();
    for (int i = 0; i < lines && !writeError; ++i) {
        if (i > 0)
            buffer.append("\r\0\n\0", 4);
        append(DecodePath(m_bDisplayFileList ? m_fileModel->NativePath(i) : m_arrFiles.At(i)));
        if (buffer.size() >= 64 * 1024)
            flush();
    }
    flush();
    if (::close(fd) != 0 && !writeError)
        writeError = errno;
    if (writeError) {
        // A half-written list is no use to anyone.
        ::unlink(name.constData());
        *error = QString::fromLocal8Bit(strerror(writeError));
        return {};
    }
    return name;
}

void CSorvaneView::OnExportFileList()
{
    if (IsListing())
        return;
    QByteArray file;
    QString error;
    {
        CWaitCursor wait;
        file = WriteExportFile(&error);
    }
    if (file.isEmpty()) {
        QMessageBox::information(this, Res::AppTitle(),
                                 QStringLiteral("The list of files could not be written to a temporary file: %1.").arg(error));
        return;
    }
    Shell().OpenAsText(file);
}

void CSorvaneView::OpenDuplicateResults()
{
    CFillInput input;
    if (m_bDisplayFileList) {
        // A snapshot of the rows: the worker reads it while the list stays untouched behind the modal window.
        auto paths = std::make_shared<std::vector<const char*>>();
        for (int r = 0; r < m_fileModel->rowCount(); ++r)
            paths->push_back(m_fileModel->NativePath(r).data());
        input.count = [paths] { return int(paths->size()); };
        input.at = [paths](int i) { return std::string_view((*paths)[size_t(i)]); };
    } else {
        input.count = [this] { return m_arrFiles.GetSize(); };
        input.at = [this](int i) { return m_arrFiles.At(i); };
    }
    CDlgDuplicateResults dialog(std::move(input), this);
    dialog.exec();
}

void CSorvaneView::BuildMenus()
{
    auto add = [this](QMenu* menu, const char* text, int command) {
        QAction* a = menu->addAction(QString::fromUtf8(text), this, [this, command] { OnRowCommand(command); });
        a->setData(command);
        return a;
    };
    m_menuFileList = new QMenu(this);
    m_menuFileList->setDefaultAction(add(m_menuFileList, "View Selected File", ViewSelectedFile));
    add(m_menuFileList, "Open File's Folder", OpenFileFolder)->setToolTip(QStringLiteral("Display Selected File's Folder in Windows Explorer"));
    add(m_menuFileList, "Locate File in Explorer", LocateFileInExplorer);
    m_menuFileList->addSeparator();
    add(m_menuFileList, "Send File to Recycle Bin", SendFileToRecycleBin);
    m_menuFileList->addSeparator();
    add(m_menuFileList, "File Properties", FileProperties);
    m_menuFileList->addSeparator();
    add(m_menuFileList, "Folder Properties", FolderPropertiesTop);

    m_menuFolderList = new QMenu(this);
    m_menuFolderList->setDefaultAction(add(m_menuFolderList, "Open Selected Folder", OpenSelectedFolder));
    m_menuFolderList->addSeparator();
    add(m_menuFolderList, "Send Folder to Recycle Bin", SendFolderToRecycleBin);
    m_menuFolderList->addSeparator();
    add(m_menuFolderList, "Folder Properties", FolderPropertiesBottom);

    m_listFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listFiles, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // Status rows have no file to act on.
        if (m_bDisplayFileList)
            m_menuFileList->popup(m_listFiles->viewport()->mapToGlobal(pos));
    });
    m_listFolders->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listFolders, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_menuFolderList->popup(m_listFolders->viewport()->mapToGlobal(pos)); });
    connect(m_listFiles, &QAbstractItemView::doubleClicked, this, [this] { OnRowCommand(ViewSelectedFile); });
    connect(m_listFolders, &QAbstractItemView::doubleClicked, this, [this] { OnRowCommand(OpenSelectedFolder); });
}

int CSorvaneView::SelectedRow(QTableView* list) const
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CSorvaneView::OnRowCommand(int command)
{
    auto bytes = [](std::string_view v) { return QByteArray(v.data(), qsizetype(v.size())); };
    const bool fileRows = m_fileModel->HoldsFiles();
    const int fileRow = fileRows ? SelectedRow(m_listFiles) : -1;
    const int folderRow = SelectedRow(m_listFolders);
    IShellOps& shell = Shell();
    switch (command) {
    case ViewSelectedFile:
        if (fileRow >= 0 && m_listFiles->selectionModel()->selectedRows().size() == 1)
            shell.OpenInShell(bytes(m_fileModel->NativePath(fileRow)));
        break;
    case OpenFileFolder:
        if (fileRow >= 0)
            shell.OpenInShell(bytes(m_fileModel->NativeFolder(fileRow)));
        break;
    case OpenSelectedFolder:
        if (folderRow >= 0)
            shell.OpenInShell(bytes(m_folderModel->NativeFolder(folderRow)));
        break;
    case FileProperties:
    case FolderPropertiesTop:
        if (fileRow >= 0) {
            CWaitCursor wait;
            shell.ShowShellProperties(this, bytes(command == FileProperties ? m_fileModel->NativePath(fileRow)
                                                                            : m_fileModel->NativeFolder(fileRow)));
        }
        break;
    case FolderPropertiesBottom:
        if (folderRow >= 0) {
            CWaitCursor wait;
            shell.ShowShellProperties(this, bytes(m_folderModel->NativeFolder(folderRow)));
        }
        break;
    case SendFileToRecycleBin:
        if (fileRow >= 0 && !shell.SendToRecycleBin(this, {bytes(m_fileModel->NativePath(fileRow))}).empty())
            m_fileModel->RemoveFileRow(fileRow);
        break;
    case SendFolderToRecycleBin:
        if (folderRow >= 0) {
            const QByteArray folder = bytes(m_folderModel->NativeFolder(folderRow));
            if (shell.SendToRecycleBin(this, {folder}).empty())
                break;
            m_folderModel->RemoveFolderRow(folderRow);
            emit FolderTreeChanged();
            // Only rows of files directly in that folder go; names differing in case are other folders.
            if (fileRows) {
                for (int r = m_fileModel->rowCount() - 1; r >= 0; --r) {
                    if (bytes(m_fileModel->NativeFolder(r)) == folder)
                        m_fileModel->RemoveFileRow(r);
                }
            }
        }
        break;
    case LocateFileInExplorer:
        if (fileRows) {
            CWaitCursor wait;
            QModelIndexList rows = m_listFiles->selectionModel()->selectedRows();
            std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
            for (const QModelIndex& index : rows)
                shell.SelectInExplorer(bytes(m_fileModel->NativePath(index.row())));
        }
        break;
    default:
        break;
    }
}

void CSorvaneView::StopAndJoin()
{
    m_closing = true;
    m_stopRequested = true;
    m_bListing = 0;
    if (m_question)
        m_question->reject();
    if (m_thread.joinable())
        m_thread.join();
    m_drainTimer.stop();
}

void CSorvaneView::SaveColumnWidths()
{
    if (!m_columnsReady)
        return;
    ::SaveColumnWidths(m_listFiles->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(0, i); });
    ::SaveColumnWidths(m_listFolders->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(1, i); });
}
