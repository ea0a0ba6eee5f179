#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <exception>

#include "app/main_window.h"

namespace {

// Shows an exception that escapes an event handler and ends the program.
class BearfixApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, "Bearfix", e.what());
        } catch (...) {
            QMessageBox::critical(nullptr, "Bearfix", "Unknown error");
        }
        exit(0);
        return false;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    BearfixApplication app(argc, argv);
    app.setApplicationName("bearfix");
    app.setApplicationDisplayName("Bearfix");
    std::setlocale(LC_NUMERIC, "C");  // QApplication took the user's locale
    try {
        bearfix::TBearfix window;
        window.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Bearfix", e.what());
    }
    return 0;
}
