#include "AppTexts.h"
#include "PathArray.h"
#include "SorvaneApp.h"
#include "WorkerPool.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    LimitMallocArenas();
    // Answered before any display is needed.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("sorvane %s\n", Res::kAppVersion);
            return 0;
        }
    }
    QApplication app(argc, argv);
    setlocale(LC_ALL, "");
    QApplication::setOrganizationName(QString::fromUtf8(Res::kOrganisation));
    QApplication::setApplicationName(Res::AppTitle());
    // No display name: Qt would append it to every window's caption.

    CSorvaneApp sorvane;
    sorvane.CloseOnTerminationSignals();
    // The arguments as their exact bytes, so any folder name reaches the walk unchanged.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeNativeExact(argv[i]);
    if (!sorvane.InitInstance(args))
        return 1;
    return app.exec();
}
