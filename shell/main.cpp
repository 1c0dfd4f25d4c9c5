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
    QApplication::setApplicationDisplayName(Res::AppTitle());

    CSorvaneApp sorvane;
    sorvane.CloseOnTerminationSignals();
    if (!sorvane.InitInstance(app.arguments().mid(1)))
        return 1;
    return app.exec();
}
