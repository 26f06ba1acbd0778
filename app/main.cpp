#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("vesk");
    QApplication::setOrganizationName("vesk");
    QMainWindow window;
    window.setWindowTitle("vesk");
    window.resize(1024, 768);
    window.show();
    return app.exec();
}
