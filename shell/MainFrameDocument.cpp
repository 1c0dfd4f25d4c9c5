// The main window's application menu and its document commands.

#include "MainFrame.h"

#include "AppTexts.h"
#include "RibbonBar.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"
#include "Texts.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QToolButton>

namespace {
constexpr int kRecentDocuments = 4;
}  // namespace

void CMainFrame::BuildApplicationMenu()
{
    m_appMenu = new QMenu(this);
    m_appMenu->setObjectName(QStringLiteral("applicationMenu"));
    for (int id : {int(Cmd::FileNew), int(Cmd::FileOpen), int(Cmd::FileSave), int(Cmd::FileSaveAs)})
        m_appMenu->addAction(m_actions[id]);
    m_appMenu->addAction(m_actions[Cmd::SaveFileListAs]);
    QMenu* print = m_appMenu->addMenu(QStringLiteral("Print"));
    print->setEnabled(false);
    print->addSection(QStringLiteral("Preview and print the document"));
    for (int id : {int(Cmd::FilePrintDirect), int(Cmd::FilePrintPreview), int(Cmd::FilePrintSetup)})
        print->addAction(m_actions[id]);
    m_appMenu->addSeparator();
    m_appMenu->addAction(m_actions[Cmd::FileClose]);
    m_recentMenu = m_appMenu->addMenu(QStringLiteral("Recent Documents"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, [this] {
        m_recentMenu->clear();
        const QStringList files = AppSettingsFile().value(QLatin1String(Opt::RecentFileList)).toStringList();
        for (int i = 0; i < files.size(); ++i) {
            const QString file = files[i];
            m_recentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(file), this,
                                    [this, file] { OpenDocument(file); });
        }
        m_recentMenu->setEnabled(!files.isEmpty());
    });
    QMenu* looks = m_appMenu->addMenu(QStringLiteral("&Application Look"));
    for (int id = Cmd::LookFirst; id <= Cmd::LookLast; ++id)
        looks->addAction(m_actions[id]);
    m_appMenu->addSeparator();
    m_appMenu->addAction(m_actions[Cmd::AppExit]);

    // The application button's key tip "f": Alt+F opens the menu under it.
    auto* keyTip = new QAction(this);
    keyTip->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F));
    addAction(keyTip);
    connect(keyTip, &QAction::triggered, this, [this] {
        QToolButton* b = m_ribbon->ApplicationButton();
        m_appMenu->popup(b->mapToGlobal(QPoint(0, b->height())));
    });
    m_ribbon->ApplicationButton()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_ribbon->ApplicationButton(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_appMenu->popup(m_ribbon->ApplicationButton()->mapToGlobal(pos)); });
}

void CMainFrame::OnFileNew()
{
    m_doc->New();
    m_view->OnInitialUpdate();
}

void CMainFrame::OnFileOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), QString::fromUtf8(Txt::DocFilter));
    if (!path.isEmpty())
        OpenDocument(path);
}

bool CMainFrame::OpenDocument(const QString& path)
{
    QString error;
    if (!m_doc->Open(path, &error)) {
        QMessageBox::information(this, Res::AppTitle(), QStringLiteral("%1\n%2").arg(path, error));
        return false;
    }
    AddRecentDocument(path);
    m_view->OnInitialUpdate();
    return true;
}

void CMainFrame::OnFileSave()
{
    if (m_doc->PathName().isEmpty()) {
        OnFileSaveAs();
        return;
    }
    QString error;
    if (!m_doc->Save(m_doc->PathName(), &error))
        QMessageBox::information(this, Res::AppTitle(), QStringLiteral("%1\n%2").arg(m_doc->PathName(), error));
}

bool CMainFrame::OnFileSaveAs()
{
    QFileDialog dialog(this, QString(), QString(), QString::fromUtf8(Txt::DocFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("svd"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString path = dialog.selectedFiles().first();
    QString error;
    if (!m_doc->Save(path, &error)) {
        QMessageBox::information(this, Res::AppTitle(), QStringLiteral("%1\n%2").arg(path, error));
        return false;
    }
    AddRecentDocument(path);
    return true;
}

void CMainFrame::AddRecentDocument(const QString& path)
{
    QStringList files = AppSettingsFile().value(QLatin1String(Opt::RecentFileList)).toStringList();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > kRecentDocuments)
        files.removeLast();
    COptionsStore::WriteOutsideSection(QLatin1String(Opt::RecentFileList), files);
}

