#pragma once

#include <QHash>
#include <QWidget>

#include <vector>

class QAction;
class QGridLayout;
class QHBoxLayout;
class QMenu;
class QToolButton;

// A ribbon of our own: the round application button, a tab row with one
// category, the Style and About buttons at its right end, and the category's
// panels of buttons and check boxes. Every element is driven by the QAction
// of its command id, so states are refreshed in one place.
class CRibbonBar : public QWidget {
    Q_OBJECT
public:
    explicit CRibbonBar(QWidget* parent = nullptr);

    QToolButton* ApplicationButton() const { return m_appButton; }

    void AddCategory(const QString& name);
    void AddPanel(const QString& label);
    void AddButton(QAction* action, const QIcon& icon);
    void AddCheckBox(QAction* action);
    // A button of one line, stacked with the check boxes.
    void AddSmallButton(QAction* action, const QIcon& icon);
    void AddTabRowButton(QToolButton* button);
    // The widget showing a command, for tests and key navigation.
    QWidget* ElementFor(int commandId) const { return m_elements.value(commandId); }
    QStringList PanelLabels() const { return m_panelLabels; }
    // The button a panel folds into when the window is too narrow for it.
    QToolButton* FoldedPanel(const QString& label) const;

signals:
    // A press or a double-click on the application button.
    void ApplicationButtonPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // A command's button in the current panel, and in its folded menu.
    QToolButton* CommandButton(QAction* action, const QIcon& icon, bool large);
    void AddSmall(QWidget* element, Qt::Alignment alignment = {});
    struct CPanel {
        QWidget* full;
        QToolButton* folded;
    };
    QGridLayout* PanelGrid() const;
    void AddToFolded(QAction* action);
    void FoldPanels();

    std::vector<CPanel> m_panelList;

    QToolButton* m_appButton;
    QHBoxLayout* m_tabRow;
    QWidget* m_body;
    QHBoxLayout* m_panels;
    QWidget* m_currentPanel = nullptr;
    int m_nextColumn = 0;
    int m_checkColumn = 0;
    int m_checkRow = 0;
    QHash<int, QWidget*> m_elements;
    QStringList m_panelLabels;
};

// The tooltip of a ribbon command: its title in bold above its description.
QString CommandToolTip(int commandId);
