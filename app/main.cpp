#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("Vistrel 2.0");
    QMainWindow w;
    w.setWindowTitle("Vistrel 2.0");
    w.show();
    return app.exec();
}
