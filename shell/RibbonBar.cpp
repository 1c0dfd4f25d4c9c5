#include "RibbonBar.h"

#include "Texts.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QIconEngine>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kAppButtonSize = 45;
constexpr int kRowsPerColumn = 3;

// The application button is drawn as an orb.
class COrbButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
        QRadialGradient g(r.center() - QPointF(0, r.height() / 4), r.width() * 0.7);
        const QColor base = palette().color(QPalette::Highlight);
        g.setColorAt(0, base.lighter(underMouse() ? 190 : 170));
        g.setColorAt(1, isDown() ? base.darker(130) : base);
        p.setPen(QPen(base.darker(150), 1.5));
        p.setBrush(g);
        p.drawEllipse(r);
        p.setPen(QPen(palette().color(QPalette::HighlightedText), 2));
        p.setFont(QFont(font().family(), 16, QFont::Bold));
        p.drawText(r, Qt::AlignCenter, QStringLiteral("S"));
    }
};

// A ribbon icon that stays visible in every look: on a dark look its lightness is turned round, so dark
// outlines become light ones and the picture keeps its detail; read when painted, so it follows the look.
class CLookIconEngine : public QIconEngine {
public:
    explicit CLookIconEngine(QIcon base) : m_base(std::move(base)) {}
    QIconEngine* clone() const override { return new CLookIconEngine(m_base); }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size() * painter->device()->devicePixelRatioF(), mode, state));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap picture = m_base.pixmap(size, QIcon::Normal, state);
        if (QApplication::palette().color(QPalette::Window).lightness() < 128) {
            QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    image.setPixelColor(x, y, QColor::fromHslF(std::max(c.hslHueF(), 0.0f), c.hslSaturationF(),
                                                               1.0f - c.lightnessF(), c.alphaF()));
                }
            }
            picture = QPixmap::fromImage(image);
        }
        if (mode == QIcon::Disabled) {
            QStyleOption option;
            option.palette = QApplication::palette();
            picture = QApplication::style()->generatedIconPixmap(QIcon::Disabled, picture, &option);
        }
        return picture;
    }

private:
    QIcon m_base;
};

// A check box that mirrors its action: a click triggers the command, and the
// mark and enabled state follow the action.
class CRibbonCheckBox : public QCheckBox {
public:
    CRibbonCheckBox(QAction* action, QWidget* parent)
        : QCheckBox(action->text(), parent)
    {
        auto sync = [this, action] {
            setChecked(action->isChecked());
            setEnabled(action->isEnabled());
        };
        sync();
        connect(action, &QAction::changed, this, sync);
        // toggled, not clicked: a screen reader's Toggle changes the box without a click.
        connect(this, &QCheckBox::toggled, this, [this, action, sync](bool on) {
            if (on != action->isChecked())
                action->trigger();
            if (isChecked() != action->isChecked())
                sync();
        });
    }
};

}  // namespace

QString CommandToolTip(int commandId)
{
    for (const CCommandTip& tip : kCommandTips) {
        if (tip.id == commandId) {
            return QStringLiteral("<b>%1</b><br>%2").arg(QString::fromUtf8(tip.title).toHtmlEscaped(),
                                                          QString::fromUtf8(tip.description).toHtmlEscaped());
        }
    }
    return {};
}

CRibbonBar::CRibbonBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ribbon"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_tabRow = new QHBoxLayout;
    m_tabRow->setContentsMargins(4, 2, 4, 0);
    m_appButton = new COrbButton(this);
    m_appButton->setObjectName(QStringLiteral("applicationButton"));
    m_appButton->setFixedSize(kAppButtonSize, kAppButtonSize);
    m_appButton->setToolTip(QString::fromUtf8(Txt::AppButtonTip));
    // Drawn, not labelled: a screen reader gets its name and what it does.
    m_appButton->setAccessibleName(QString::fromUtf8(Txt::AppButtonTip));
    m_appButton->setAccessibleDescription(QStringLiteral("Steps to the next application look; Alt+F opens the application menu"));
    m_appButton->installEventFilter(this);
    m_tabRow->addWidget(m_appButton);
    outer->addLayout(m_tabRow);

    m_body = new QFrame(this);
    m_body->setObjectName(QStringLiteral("ribbonCategory"));
    static_cast<QFrame*>(m_body)->setFrameShape(QFrame::StyledPanel);
    m_panels = new QHBoxLayout(m_body);
    m_panels->setContentsMargins(4, 4, 4, 4);
    m_panels->setSpacing(2);
    m_panels->addStretch(1);
    outer->addWidget(m_body);
}

bool CRibbonBar::eventFilter(QObject* watched, QEvent* event)
{
    // A press or double-click steps the look and never opens a menu.
    if (watched == m_appButton
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        emit ApplicationButtonPressed();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CRibbonBar::AddCategory(const QString& name)
{
    auto* tabs = new QTabBar(this);
    tabs->setObjectName(QStringLiteral("categoryTabs"));
    tabs->setDrawBase(false);
    tabs->addTab(name);
    m_tabRow->addWidget(tabs, 0, Qt::AlignBottom);
    m_tabRow->addStretch(1);
}

void CRibbonBar::AddTabRowButton(QToolButton* button)
{
    button->setAutoRaise(true);
    m_tabRow->addWidget(button, 0, Qt::AlignBottom);
}

void CRibbonBar::AddPanel(const QString& label)
{
    auto* panel = new QFrame(m_body);
    panel->setObjectName(QStringLiteral("panel:") + label);
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(4, 2, 4, 2);
    v->setSpacing(2);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    v->addLayout(grid, 1);
    auto* caption = new QLabel(label, panel);
    caption->setObjectName(QStringLiteral("caption"));
    caption->setAlignment(Qt::AlignHCenter);
    v->addWidget(caption);
    m_panels->insertWidget(m_panels->count() - 1, panel);
    if (m_currentPanel) {
        auto* line = new QFrame(m_body);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        m_panels->insertWidget(m_panels->count() - 2, line);
    }
    // The same panel folded into one button with a menu of its commands, for narrow windows.
    auto* folded = new QToolButton(m_body);
    folded->setObjectName(QStringLiteral("folded:") + label);
    folded->setText(label);
    folded->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    folded->setIconSize(QSize(32, 32));
    folded->setAutoRaise(true);
    folded->setPopupMode(QToolButton::InstantPopup);
    folded->setMenu(new QMenu(folded));
    folded->hide();
    m_panels->insertWidget(m_panels->indexOf(panel) + 1, folded);
    m_panelList.push_back({panel, folded});

    m_currentPanel = panel;
    m_nextColumn = 0;
    m_checkRow = 0;
    m_panelLabels << label;
}

void CRibbonBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FoldPanels();
}

void CRibbonBar::FoldPanels()
{
    // The panels that save the most fold first, one at a time, until the rest
    // fit with their labels whole; a wider window unfolds them again.
    const QMargins m = m_panels->contentsMargins();
    const int room = m_body->width() - m.left() - m.right();
    std::vector<int> full, small;
    int total = 0;
    for (const CPanel& p : m_panelList) {
        full.push_back(p.full->sizeHint().width());
        small.push_back(p.folded->sizeHint().width());
        total += full.back() + 2 * m_panels->spacing() + 2;  // the panel, its separator and spacing
    }
    std::vector<size_t> byGain(m_panelList.size());
    for (size_t i = 0; i < byGain.size(); ++i)
        byGain[i] = i;
    std::stable_sort(byGain.begin(), byGain.end(),
                     [&](size_t a, size_t b) { return full[a] - small[a] > full[b] - small[b]; });
    std::vector<bool> fold(m_panelList.size(), false);
    for (size_t k = 0; k < byGain.size() && total > room; ++k) {
        fold[byGain[k]] = true;
        total -= full[byGain[k]] - small[byGain[k]];
    }
    for (size_t i = 0; i < m_panelList.size(); ++i) {
        m_panelList[i].full->setVisible(!fold[i]);
        m_panelList[i].folded->setVisible(fold[i]);
    }
}

QToolButton* CRibbonBar::FoldedPanel(const QString& label) const
{
    for (const CPanel& p : m_panelList) {
        if (p.folded->text() == label)
            return p.folded;
    }
    return nullptr;
}

QGridLayout* CRibbonBar::PanelGrid() const
{
    return static_cast<QGridLayout*>(static_cast<QVBoxLayout*>(m_currentPanel->layout())->itemAt(0)->layout());
}

QToolButton* CRibbonBar::CommandButton(QAction* action, const QIcon& icon, bool large)
{
    auto* button = new QToolButton(m_currentPanel);
    action->setIcon(QIcon(new CLookIconEngine(icon)));
    button->setDefaultAction(action);
    button->setToolButtonStyle(large ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonTextBesideIcon);
    button->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(CommandToolTip(action->data().toInt()));
    m_elements.insert(action->data().toInt(), button);
    AddToFolded(action);
    return button;
}

void CRibbonBar::AddButton(QAction* action, const QIcon& icon)
{
    PanelGrid()->addWidget(CommandButton(action, icon, true), 0, m_nextColumn++, kRowsPerColumn, 1);
    m_checkRow = 0;
}

// Check boxes and small buttons stack three to a column, as small ribbon elements do.
void CRibbonBar::AddSmall(QWidget* element, Qt::Alignment alignment)
{
    if (m_checkRow == 0)
        m_checkColumn = m_nextColumn++;
    PanelGrid()->addWidget(element, m_checkRow, m_checkColumn, alignment);
    m_checkRow = (m_checkRow + 1) % kRowsPerColumn;
}

void CRibbonBar::AddCheckBox(QAction* action)
{
    auto* box = new CRibbonCheckBox(action, m_currentPanel);
    box->setToolTip(CommandToolTip(action->data().toInt()));
    AddSmall(box);
    m_elements.insert(action->data().toInt(), box);
    AddToFolded(action);
}

void CRibbonBar::AddSmallButton(QAction* action, const QIcon& icon)
{
    AddSmall(CommandButton(action, icon, false), Qt::AlignLeft);
}

void CRibbonBar::AddToFolded(QAction* action)
{
    QToolButton* folded = m_panelList.back().folded;
    folded->menu()->addAction(action);
    if (folded->icon().isNull() && !action->icon().isNull())
        folded->setIcon(action->icon());
}
