#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtTest>

namespace TestSupport {

// Points HOME and every XDG base folder at a fresh temporary folder, removed
// at exit. Must run before anything reads settings or special folders.
QString IsolateEnvironment();
QString TempRoot();

// Native path helpers for building trees.
void MakeDir(const QByteArray& path);
void MakeFile(const QByteArray& path, qint64 size = 0);

}  // namespace TestSupport

#define SORVANE_TEST_MAIN(TestObject)                  \
    int main(int argc, char** argv)                    \
    {                                                  \
        TestSupport::IsolateEnvironment();             \
        QCoreApplication app(argc, argv);              \
        TestObject tc;                                 \
        return QTest::qExec(&tc, argc, argv);          \
    }
