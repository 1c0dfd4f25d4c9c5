#include "OutlookBar.h"

#include "FolderTree.h"
#include "Texts.h"

#include <QHBoxLayout>
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
    m_tree = new CFolderTree(content);
    layout->addWidget(m_tree, 1);
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
