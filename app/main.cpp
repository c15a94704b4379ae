#include "app/DMDados.h"
#include "app/Frm_cadastro.h"
#include "app/Messages.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tandrel::app::kApplicationTitle));

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
