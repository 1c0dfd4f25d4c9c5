#pragma once

#include "ShellOps.h"

#include <QByteArrayList>
#include <QStringList>

// Records every request to the desktop; the trash "moves" what it is told to
// accept and a terminal starts when one is wanted.
class CRecordingShell : public IShellOps {
public:
    bool OpenInShell(const QByteArray& path, QStringList* tried) override { return Record("open " + path, tried); }
    void ShowShellProperties(QWidget*, const QByteArray& path) override { calls << "properties " + path; }
    bool SelectInExplorer(const QByteArray& path, QStringList* tried) override { return Record("reveal " + path, tried); }
    std::vector<QByteArray> SendToRecycleBin(QWidget*, const std::vector<QByteArray>& paths,
                                             const std::vector<CFileIdentity>& = {}, const QString& caution = {},
                                             bool noByDefault = false) override
    {
        lastCaution = caution;
        lastNoByDefault = noByDefault;
        std::vector<QByteArray> moved;
        for (const QByteArray& p : paths) {
            calls << "trash " + p;
            if (accept)
                moved.push_back(p);
        }
        return moved;
    }
    bool OpenTrash(QStringList* tried) override { return Record("open trash", tried); }
    bool OpenTerminal(const QByteArray& folder, QStringList* tried) override
    {
        calls << "terminal " + folder;
        *tried << QStringLiteral("x-terminal-emulator") << QStringLiteral("xterm");
        return terminalStarts;
    }
    bool OpenAsText(const QByteArray& file, QStringList* tried) override { return Record("text " + file, tried); }

    bool Record(const QByteArray& call, QStringList* tried)
    {
        calls << call;
        if (!opens)
            *tried << QStringLiteral("xdg-open");
        return opens;
    }

    QByteArrayList calls;
    QString lastCaution;
    bool lastNoByDefault = false;
    bool opens = true;  // false: no handler takes an open request
    bool accept = true;
    bool terminalStarts = true;
};
