#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Bearfix");
    window.resize(541, 406);
    window.show();
    return app.exec();
}
