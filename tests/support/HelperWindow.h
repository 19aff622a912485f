#pragma once

#include <QCloseEvent>
#include <QGuiApplication>
#include <QRasterWindow>

#include <memory>

// A Qt client for Wayland sessions, run from a copy of the test binary as
// `--helper-window APP_ID [OPTION]`: one window with that app id. With --ask-on-close, a close
// request shows a question (a second window, as an editor's "save changes?") and the window
// stays; closing the question answers it. --ask-in-child makes the question transient for the
// window. With --with-dialog, a dialog the user opened is shown at once.
class HelperWindow : public QRasterWindow {
public:
    std::unique_ptr<HelperWindow> question;

    // The helper's exit code when argv asks for it; nothing otherwise.
    static std::optional<int> run(int argc, char** argv) {
        if (argc <= 3 || qstrcmp(argv[1], "--helper-window") != 0)
            return std::nullopt;
        QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[2]));
        HelperWindow window;
        if (qstrcmp(argv[3], "--ask-on-close") == 0 || qstrcmp(argv[3], "--ask-in-child") == 0)
            window.question = std::make_unique<HelperWindow>();
        if (qstrcmp(argv[3], "--ask-in-child") == 0)
            window.question->setTransientParent(&window);
        window.show();
        HelperWindow dialog;
        if (qstrcmp(argv[3], "--with-dialog") == 0) {
            dialog.setTransientParent(&window);
            dialog.show();
        }
        return QGuiApplication::exec();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (question) {
            event->ignore();
            question->show();
        }
    }
};
