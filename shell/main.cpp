#include "AppTexts.h"
#include "SorvaneApp.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    setlocale(LC_ALL, "");
    QApplication::setOrganizationName(QString::fromUtf8(Res::kOrganisation));
    QApplication::setApplicationName(Res::AppTitle());
    // No display name: Qt would append it to every window's caption.

    CSorvaneApp sorvane;
    sorvane.CloseOnTerminationSignals();
    if (!sorvane.InitInstance(app.arguments().mid(1)))
        return 1;
    return app.exec();
}
