// Composes one message with an attachment and sends it: the mail stack as another program
// uses it, from its installed headers and libraries.
// Usage: send-one HOST PORT FROM TO   (plain SMTP; exit 0 when the server took the mail)

#include "mail/MailSender.h"

#include <exception>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: send-one HOST PORT FROM TO\n";
        return 2;
    }
    tandrel::mail::TMailSender mail;
    mail.SetHost(argv[1]);
    mail.SetPort(argv[2]);
    mail.SetFrom(argv[3]);
    mail.SetFromName("Exemplo");
    mail.AddAddress(argv[4]);
    mail.SetSubject("Olá do exemplo");
    mail.AltBody() = {"Uma linha de texto.", "E outra."};
    std::istringstream attachment("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<exemplo/>\n");
    mail.AddAttachment(&attachment, "exemplo.xml", tandrel::mail::TMailAttachmentDisposition::adAttachment);
    try {
        mail.Send(false);
    } catch (const std::exception& e) {
        std::cerr << "send-one: " << e.what() << '\n';
        return 1;
    }
    std::cout << "sent\n";
    return 0;
}
