#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon("./motor.png"));
    MainWindow window;
    window.show();
    return app.exec();
}
