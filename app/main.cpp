#include <QApplication>
#include <QSurfaceFormat>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "platform/Memory.h"

int main(int argc, char** argv)
{
    Memory::configureAllocator();
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    QApplication::setApplicationName("vesk");
    QApplication::setOrganizationName("vesk");

    TitleBar window;
    AppController controller(&window);
    controller.awakeFromNib();
    window.show();
    return app.exec();
}
