#include "app/DMDados.h"
#include "app/Frm_cadastro.h"
#include "app/Messages.h"

#include <QApplication>

#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    // Answered before the window system is needed, so it works from any terminal.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "tandrel " << TANDREL_VERSION << '\n';
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tandrel::app::kApplicationTitle));
    // Ties the window to its menu entry (and so its icon) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("tandrel"));

    tandrel::app::TDialogMessages messages;
    tandrel::app::TFrm_cadastro Frm_cadastro(messages);
    messages.SetParent(&Frm_cadastro);
    tandrel::app::TDMDados DMDados;
    Frm_cadastro.SetDMDados(&DMDados);
    Frm_cadastro.show();
    const int result = QApplication::exec();
    Frm_cadastro.SetDMDados(nullptr);
    return result;
}
