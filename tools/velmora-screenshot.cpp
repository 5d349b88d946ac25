// velmora-screenshot FILE [WINDOW]: saves what the X display shows as a PNG file, the whole
// screen or, given an X window id (decimal or 0x hex, as xdotool prints it), that window's area.
// For looking at the program where no desktop runs (scripts/run under Xvfb) and for the
// end-to-end test, which reads pixels of the real window.
//
// It talks to the X server of DISPLAY whatever QT_QPA_PLATFORM says: a picture of another
// program's window exists only there.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: velmora-screenshot FILE.png [WINDOW-ID]\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "velmora-screenshot: DISPLAY is not set\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    WId window = 0;
    if (argc == 3) {
        bool ok = false;
        window = static_cast<WId>(QString::fromLocal8Bit(argv[2]).toULongLong(&ok, 0));
        if (!ok) {
            std::fprintf(stderr, "velmora-screenshot: '%s' is not a window id\n", argv[2]);
            return 2;
        }
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage picture = screen ? screen->grabWindow(window).toImage() : QImage();
    if (picture.isNull()) {
        std::fprintf(stderr, "velmora-screenshot: the display could not be read\n");
        return 1;
    }
    if (!picture.convertToFormat(QImage::Format_RGB32)
             .save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "velmora-screenshot: %s could not be written\n", argv[1]);
        return 1;
    }
    return 0;
}
