#include <QApplication>

#include "app/AppController.h"
#include "app/TitleBar.h"
#include "platform/Memory.h"

int main(int argc, char** argv)
{
    Memory::configureAllocator();
    TitleBar::prepareApplication();
    QApplication app(argc, argv);

    TitleBar window;
    AppController controller(&window);
    controller.awakeFromNib();
    window.show();
    return app.exec();
}
