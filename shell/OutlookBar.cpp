#include "OutlookBar.h"

#include "FolderTree.h"
#include "PathArray.h"
#include "Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

COutlookBar::COutlookBar(QWidget* parent)
    : QDockWidget(QString::fromUtf8(Txt::PaneCaption), parent)
{
    setObjectName(QStringLiteral("outlookBar"));
    // Resizable only: it can neither float nor be closed.
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    setAllowedAreas(Qt::LeftDockWidgetArea);
    toggleViewAction()->setText(QString::fromUtf8(Txt::PaneName));

    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_shortcuts = new QListWidget(content);
    m_shortcuts->setObjectName(QStringLiteral("shortcuts"));
    m_shortcuts->setAccessibleName(QStringLiteral("Shortcuts"));
    m_shortcuts->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_shortcuts->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_shortcuts->setTextElideMode(Qt::ElideMiddle);
    layout->addWidget(m_shortcuts);
    m_tree = new CFolderTree(content);
    layout->addWidget(m_tree, 1);
    // A shortcut picks its folder in the tree, which announces it as any selection.
    connect(m_shortcuts, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        m_tree->SelectPath(item->data(Qt::UserRole).toString());
    });
    connect(m_shortcuts, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        m_tree->SelectPath(item->data(Qt::UserRole).toString());
    });
    FillShortcuts();
    // The page button, as an outlook-style pane shows its pages.
    auto* page = new QToolButton(content);
    page->setObjectName(QStringLiteral("pageFolders"));
    page->setText(QString::fromUtf8(Txt::FoldersPage));
    page->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    page->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    page->setCheckable(true);
    page->setChecked(true);
    page->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont bold = page->font();
    bold.setBold(true);
    page->setFont(bold);
    layout->addWidget(page);
    setWidget(content);
    resize(250, height());
}

void COutlookBar::FillShortcuts()
{
    m_shortcuts->clear();
    auto add = [this](const QString& label, const QString& path, QStyle::StandardPixmap icon) {
        const QString exact = DecodeNativeExact(QFile::encodeName(path).toStdString());
        for (int i = 0; i < m_shortcuts->count(); ++i) {
            if (m_shortcuts->item(i)->data(Qt::UserRole).toString() == exact)
                return;  // an XDG folder set to the home folder itself
        }
        if (path.isEmpty() || !QFileInfo(path).isDir())
            return;
        auto* item = new QListWidgetItem(style()->standardIcon(icon), label, m_shortcuts);
        item->setData(Qt::UserRole, exact);
        item->setToolTip(ShownPath(exact));
    };
    add(QStringLiteral("Home"), QDir::homePath(), QStyle::SP_DirHomeIcon);
    const std::pair<const char*, QStandardPaths::StandardLocation> places[] = {
        {"Desktop", QStandardPaths::DesktopLocation},     {"Documents", QStandardPaths::DocumentsLocation},
        {"Downloads", QStandardPaths::DownloadLocation},  {"Music", QStandardPaths::MusicLocation},
        {"Pictures", QStandardPaths::PicturesLocation},   {"Videos", QStandardPaths::MoviesLocation},
    };
    for (const auto& [label, location] : places) {
        const QString path = QStandardPaths::writableLocation(location);
        if (path != QDir::homePath())
            add(QString::fromLatin1(label), path, QStyle::SP_DirIcon);
    }
    // Mounted volumes a user keeps files on: removable media and other disks, not the system's own mounts.
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        const bool userMount = root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/"))
            || root.startsWith(QLatin1String("/run/media/"));
        if (volume.isValid() && volume.isReady() && userMount)
            add(volume.displayName(), root, QStyle::SP_DriveHDIcon);
    }
    const int rows = m_shortcuts->count();
    m_shortcuts->setFixedHeight(rows ? m_shortcuts->sizeHintForRow(0) * rows + 2 * m_shortcuts->frameWidth() : 0);
    m_shortcuts->setVisible(rows > 0);
}

CInfoBar::CInfoBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("infoBar"));
    // Roles, not colours: the bar follows every change of look.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    // Its own height always: a short window squeezes the list, not this line.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(20, 20));
    icon->setToolTip(QStringLiteral("<b>%1</b><br>%2").arg(QString::fromUtf8(Txt::InfoBarIconTitle),
                                                            QString::fromUtf8(Txt::InfoBarIconTip)));
    layout->addWidget(icon);
    m_text = new QLabel(QString::fromUtf8(Txt::InfoBarInitial), this);
    m_text->setForegroundRole(QPalette::ToolTipText);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_text, 1);
}

void CInfoBar::SetText(const QString& text)
{
    m_text->setText(text);
    m_text->setToolTip(text);
}

QString CInfoBar::Text() const
{
    return m_text->text();
}
