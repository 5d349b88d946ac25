#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora - Relativtest"));

    QWidget window;
    window.setWindowTitle(QStringLiteral("  Velmora - Relativtest V 1.00"));
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
