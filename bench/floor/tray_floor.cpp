// The least a Qt 6 tray application costs: one QSystemTrayIcon with a menu, nothing else.
// bench/perf.sh runs it beside Idlewatch on the same display, as the floor its resident
// memory is compared with.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap glyph(18, 18);
    glyph.fill(Qt::black);
    QSystemTrayIcon tray{QIcon(glyph)};
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.show();
    return QApplication::exec();
}
