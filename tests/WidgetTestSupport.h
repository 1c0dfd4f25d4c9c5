#pragma once

// Test support for programs with widgets; engine tests include TestSupport.h alone.
#include "TestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace TestSupport {
// Answers the next message boxes with button as they appear, keeping their texts.
class CBoxAnswerer : public QObject {
public:
    explicit CBoxAnswerer(QMessageBox::StandardButton button, std::function<void()> whileOpen = {})
        : m_button(button), m_whileOpen(std::move(whileOpen))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || remaining == 0)
                return;
            --remaining;
            texts << box->text();
            if (m_whileOpen)
                m_whileOpen();
            if (m_button == QMessageBox::NoButton)  // Enter: whatever the box makes its default
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->button(m_button) ? box->button(m_button)->click() : box->reject();
        });
        m_timer.start(10);
    }
    QStringList texts;
    int remaining = -1;  // how many boxes to answer; -1: every one

private:
    QMessageBox::StandardButton m_button;
    std::function<void()> m_whileOpen;
    QTimer m_timer;
};
}  // namespace TestSupport

#define SORVANE_WIDGET_TEST_MAIN(TestObject) SORVANE_TEST_MAIN_WITH(QApplication, TestObject)
