// Sends COUNT messages with TMailSender in one process, each a full conversation
// (login, envelope, data, quit), as bench/mail/run asks of every client.
// Usage: mail_bench PORT COUNT BODY_FILE ATTACHMENT [ssl]

#include "mail/MailSender.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: mail_bench PORT COUNT BODY_FILE ATTACHMENT [ssl]\n";
        return 2;
    }
    const std::string port = argv[1];
    const int count = std::atoi(argv[2]);
    std::vector<std::string> body;
    std::ifstream file(argv[3]);
    for (std::string line; std::getline(file, line);) body.push_back(line);
    const bool ssl = argc > 5 && std::string(argv[5]) == "ssl";

    tandrel::mail::TMailSender mail;
    mail.SetPort(port);
    mail.SetSSL(ssl);
    mail.SetFrom("loja@example.com");
    try {
        for (int i = 0; i < count; ++i) {
            mail.Clear();
            mail.SetSubject("Dados");
            mail.AddAddress("cliente@example.com");
            mail.AltBody() = body;
            mail.AddAttachment(argv[4], {}, tandrel::mail::TMailAttachmentDisposition::adAttachment);
            mail.Send(false);
        }
    } catch (const std::exception& e) {
        std::cerr << "mail_bench: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
