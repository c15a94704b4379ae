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
    Frm_cadastro.show();
    return QApplication::exec();
}
