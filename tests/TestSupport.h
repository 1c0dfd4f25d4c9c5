#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtTest>

#include <functional>

namespace TestSupport {

// Points HOME and every XDG base folder at a fresh temporary folder, removed
// at exit. Must run before anything reads settings or special folders.
QString IsolateEnvironment();
QString TempRoot();

// Native path helpers for building trees.
void MakeDir(const QByteArray& path);
void MakeFile(const QByteArray& path, qint64 size = 0);
void WriteFile(const QByteArray& path, const QByteArray& bytes);

// The unprivileged user that plays another user's part in tests run as root.
constexpr unsigned kAccomplice = 65534;
// While alive, this thread and the threads it starts obey file modes even as root, so a folder
// of mode 000 cannot be read; RestrictChild does the same for a program about to be started.
class CFileModesObeyed {
public:
    CFileModesObeyed();
    ~CFileModesObeyed();
    CFileModesObeyed(const CFileModesObeyed&) = delete;
    CFileModesObeyed& operator=(const CFileModesObeyed&) = delete;
    static void RestrictChild();

private:
    unsigned m_effective[2] = {};
    bool m_changed = false;
};

// Runs step in a child process as kAccomplice (only when root); true when it returned true.
bool AsAccomplice(const std::function<bool()>& step);

}  // namespace TestSupport

#define SORVANE_TEST_MAIN_WITH(AppType, TestObject) \
    int main(int argc, char** argv)                \
    {                                              \
        TestSupport::IsolateEnvironment();         \
        AppType app(argc, argv);                   \
        TestObject tc;                             \
        return QTest::qExec(&tc, argc, argv);      \
    }
#define SORVANE_TEST_MAIN(TestObject) SORVANE_TEST_MAIN_WITH(QCoreApplication, TestObject)

