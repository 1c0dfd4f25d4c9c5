#include "SorvaneView.h"

#include "AppTexts.h"
#include "DlgDuplicateResults.h"
#include "ExportWriter.h"
#include "FiltersDlg.h"
#include "ListingStatus.h"
#include "OptionsStore.h"
#include "ReportList.h"
#include "ShellOps.h"
#include "Texts.h"
#include "WaitCursor.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>

#include <algorithm>
#include <cstring>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSplitter>
#include <QTableView>

namespace {

// Rows reach the lists about twenty times a second; a walk that outruns that
// hands over early so a batch stays small.
constexpr int kDrainIntervalMs = 50;

QTableView* MakeList(QAbstractItemModel* model, QWidget* parent)
{
    auto* list = new QTableView(parent);
    list->setModel(model);
    SetUpReportList(list, QAbstractItemView::SingleSelection);
    GiveSpareWidthToCutColumns(list);
    return list;
}


}  // namespace

CSorvaneView::CSorvaneView(FolderSource selectedFolder, QWidget* parent)
    : QWidget(parent)
    , m_selectedFolder(std::move(selectedFolder))
{
    m_fileModel = new CFileListModel(this);
    m_folderModel = new CFolderListModel(this);
    m_split = new QSplitter(Qt::Vertical, this);
    m_split->setChildrenCollapsible(false);
    m_listFiles = MakeList(m_fileModel, m_split);
    m_listFiles->setObjectName(QStringLiteral("fileList"));
    m_listFolders = MakeList(m_folderModel, m_split);
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
    if (!m_columnsReady) {
        // Set up once: the status rendering retitles columns by index.
        m_columnsReady = true;
        RestoreColumnWidths(m_listFiles->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(0, i); },
                            Opt::kFileListWidths);
        RestoreColumnWidths(m_listFolders->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(1, i); },
                            Opt::kFolderListWidths);
    }
    ApplyFolderListVisibility();
    LayoutLists();
    emit InitialUpdated();
    if (m_options.IsOn(Opt::AutoListLastFolderAtStartup))
        QMetaObject::invokeMethod(this, &CSorvaneView::OnStartListing, Qt::QueuedConnection);
}

void CSorvaneView::LayoutLists()
{
    // The stored share of the top list, applied when the folder list shows.
    if (m_options.IsOn(Opt::ViewFilesCount)) {
        const int share = std::clamp(int(m_options.Read(Opt::ListSplit)), 0, 1000);
        const int h = std::max(height(), 2);
        m_split->setSizes({h * share / 1000, h - h * share / 1000});
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
    m_split->setGeometry(rect());
}

void CSorvaneView::OnViewFilesCount()
{
    SaveListSplit();
    m_options.Toggle(Opt::ViewFilesCount);
    ApplyFolderListVisibility();
    LayoutLists();
}

void CSorvaneView::SaveListSplit()
{
    const QList<int> sizes = m_split->sizes();
    if (!m_listFolders->isHidden() && sizes.size() == 2 && sizes[0] + sizes[1] > 0)
        m_options.WriteInt(QLatin1String(Opt::ListSplit.name), sizes[0] * 1000 / (sizes[0] + sizes[1]));
}

void CSorvaneView::OnAutoListToggle()
{
    m_options.Toggle(Opt::AutoListLastFolderAtStartup);
}

void CSorvaneView::OnStopListing()
{
    // The walk finishes the folder it reads and enters no other.
    m_walker.RequestStop();
    if (m_runState == ERunState::Walking)
        m_runState = ERunState::Stopping;
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

    // The run state is up before the thread exists, so no second run can start;
    // the guard's flag is the walk's token, so a Stop from its start on is seen.
    m_runState = ERunState::Walking;
    m_bDisplayFileList = m_options.IsOn(Opt::DisplayFileList);
    m_arrFiles.RemoveAll();
    m_helper.PrepareListing(EncodeNativeExact(folder));
    m_strListingStatus = QString::fromUtf8(Txt::LoadingFileList);
    m_strStatus = ListingStatus::StartedText(ShownPath(folder), m_helper.StartTime());
    if (!m_bDisplayFileList)
        AddStatusRow(m_strStatus);
    m_options.SetInfoBarText(m_strStatus);
    emit ListingStatusChanged();
    SetHeaderTitles();

    m_handOver.Reset();
    m_handOver.Attach(&m_helper, m_bDisplayFileList ? nullptr : &m_arrFiles);
    m_drainTimer.start();
    m_walker.Start([this](const std::atomic<bool>& stop) {
        m_walkResult = m_helper.StartListing(stop);
        m_handOver.HandOver();
        QMetaObject::invokeMethod(this, &CSorvaneView::OnWalkFinished, Qt::QueuedConnection);
    });
    emit CommandStateChanged();
}

void CSorvaneView::DrainPending()
{
    const CListingHandOver::CBatch batch = m_handOver.Take();
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
    m_walker.Join();
    m_drainTimer.stop();
    DrainPending();
    if (m_closing) {
        m_runState = ERunState::Idle;
        return;
    }
    m_runState = ERunState::Summarising;

    const int files = m_bDisplayFileList ? m_fileModel->rowCount() : m_arrFiles.GetSize();
    const ListingStatus::CSummary summary = ListingStatus::Finished(
        m_walkResult, m_helper.Options().m_bViewFilesCount ? m_folderModel->rowCount() : -1, files);
    m_strStatus = summary.infoBarText;
    if (const QString more = InfoBarAdditions(); !more.isEmpty())
        m_strStatus += (m_strStatus.endsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ")) + more;
    if (!m_bDisplayFileList) {
        for (const QString& row : summary.rows)
            AddStatusRow(row);
    }
    // Every folder the listing missed is named, whichever rows are shown.
    const auto& unread = m_walkResult.m_arrUnreadFolders;
    constexpr size_t kNamed = 100;
    for (size_t i = 0; i < std::min(unread.size(), kNamed); ++i)
        AddStatusRow(QStringLiteral("Could Not Read Folder %1: %2")
                         .arg(EscapePath(std::string_view(unread[i].path.constData(), size_t(unread[i].path.size()))),
                              CAppHelper::UnreadReason(unread[i].error)));
    if (unread.size() > kNamed)
        AddStatusRow(QStringLiteral("… and %1 more folder(s) that could not be read.").arg(unread.size() - kNamed));
    m_strListingStatus = summary.filesLine;
    // Said now: the question and the results window come before the run is over.
    m_options.SetInfoBarText(m_strStatus);
    emit ListingStatusChanged();

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
    m_runState = ERunState::Idle;
    emit CommandStateChanged();
}

void CSorvaneView::OnDuplicateSearch()
{
    if (!IsListing())
        OpenDuplicateResults();
}

void CSorvaneView::OnDuplicateFolderSearch()
{
    if (!IsListing())
        OpenDuplicateResults(true);
}

QByteArray CSorvaneView::WriteExportFile(QString* error) const
{
    return ::WriteExportFile(ListedCount(), [this](int i) { return ListedPath(i); }, error);
}

int CSorvaneView::ListedCount() const
{
    return m_bDisplayFileList ? m_fileModel->rowCount() : m_arrFiles.GetSize();
}

std::string_view CSorvaneView::ListedPath(int i) const
{
    return m_bDisplayFileList ? m_fileModel->NativePath(i) : m_arrFiles.At(i);
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
    QStringList tried;
    if (!Shell().OpenAsText(file, &tried))
        ReportNotOpened(this, QStringLiteral("The list of files written to %1").arg(EscapePath(file.toStdString())), tried);
}

void CSorvaneView::OnSaveFileListAs()
{
    if (IsListing())
        return;
    QString filter;
    const QString text = QStringLiteral("Text, one path a line (*.txt)");
    const QString csv = QStringLiteral("CSV with size and modification time (*.csv)");
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Save List of Files As"),
                                                      QDir::homePath() + QStringLiteral("/file-list.txt"),
                                                      text + QStringLiteral(";;") + csv, &filter);
    if (file.isEmpty())
        return;
    const EListFormat format = filter == csv || file.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? EListFormat::Csv
                                                                                                            : EListFormat::Text;
    QString error;
    bool saved = false;
    {
        CWaitCursor wait;
        saved = SaveFileList(file, ListedCount(), [this](int i) { return ListedPath(i); }, format, &error);
    }
    if (!saved)
        QMessageBox::warning(this, Res::AppTitle(), QStringLiteral("The list of files could not be saved: %1.").arg(error));
}

void CSorvaneView::OpenDuplicateResults(bool folders)
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
    // The rows point into the listing, which stays as it is while the modal window is open.
    input.stable = true;
    // Copied folders are of the listing alone: the folder compared with has no tree.
    CCompareWith compare;
    if (!folders) {
        QString folder;
        m_options.ReadString(QLatin1String(Opt::CompareWithFolder), QString(), folder);
        compare.folder = EncodeNativeExact(folder);
        compare.listed = m_helper.RootFolder();
        compare.reference = m_options.IsOn(Opt::CompareWithReference);
        compare.options = m_helper.Options();
    }
    CDlgDuplicateResults dialog(std::move(input), this, folders ? m_handOver.Tree() : nullptr, std::move(compare));
    dialog.exec();
}

QString CSorvaneView::InfoBarAdditions() const
{
    // Said only when on: with no filter and no folder to compare with, the text is as it always was.
    QStringList parts;
    const QString filters = CFiltersDlg::Summary(m_helper.Options().m_filters);
    if (!filters.isEmpty())
        parts << filters;
    QString compare;
    m_options.ReadString(QLatin1String(Opt::CompareWithFolder), QString(), compare);
    if (!compare.isEmpty())
        parts << QStringLiteral("Duplicates of %1 Compared With %2%3.")
                     .arg(EscapePath(m_helper.RootFolder().toStdString()), ShownPath(compare),
                          m_options.IsOn(Opt::CompareWithReference) ? QStringLiteral(" (a reference)") : QString());
    return parts.join(QLatin1Char(' '));
}

void CSorvaneView::StopAndJoin()
{
    m_closing = true;
    if (m_question)
        m_question->reject();
    m_walker.StopAndJoin();
    m_drainTimer.stop();
}

void CSorvaneView::SaveColumnWidths()
{
    if (!m_columnsReady)
        return;
    SaveListSplit();
    ::SaveColumnWidths(m_listFiles->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(0, i); });
    ::SaveColumnWidths(m_listFolders->horizontalHeader(), [](int i) { return Opt::ColumnWidthName(1, i); });
}
