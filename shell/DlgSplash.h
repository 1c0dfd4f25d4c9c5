#pragma once

#include <QDialog>
#include <QWidget>

// The picture shown on top while the main window is built.
class CDlgSplash : public QWidget {
    Q_OBJECT
public:
    explicit CDlgSplash(QWidget* parent = nullptr);
    static constexpr int kWidth = 545;
    static constexpr int kHeight = 201;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The application's icon in every size it ships.
QIcon AppIcon();
