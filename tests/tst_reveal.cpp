// Asks the desktop's file manager to show files, as "Locate File in Explorer"
// does; run by reveal_thunar.sh with a real file manager on a private bus.

#include "ShellOps.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        QStringList tried;
        if (!Shell().SelectInExplorer(QByteArray(argv[i]), &tried)) {
            std::fprintf(stderr, "not shown: %s (tried %s)\n", argv[i], qPrintable(tried.join(QStringLiteral(", "))));
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
