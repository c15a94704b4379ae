// Soak: COUNT sends in one process through one TMailSender, plain and implicit TLS in
// turn; every fifth goes to a server that answers RCPT late (after the time-out) or
// drops the connection there, and must fail. After every send it notes the open
// descriptors and the resident size; prints them every 50 sends and how much each grew
// from the 50th send on. Exit 1 when a send ends otherwise than expected.
// Usage: mail_soak COUNT ATTACHMENT PLAIN TLS LATE_PLAIN LATE_TLS DROP_PLAIN DROP_TLS

#include "mail/MailSender.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

long OpenDescriptors() {
    const auto entries = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                       std::filesystem::directory_iterator());
    return static_cast<long>(entries) - 1;  // the listing's own
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Target {
    const char* port;
    bool ssl;
    bool troubled;
};

// Plain and TLS in turn; every fifth send late or dropped, in turn too.
Target TargetOf(int Send, char** Ports) {
    const bool ssl = Send % 2 == 1;
    if (Send % 5 != 4) return {Ports[ssl ? 1 : 0], ssl, false};
    const bool late = (Send / 5) % 2 == 0;
    return {Ports[(late ? 2 : 4) + (ssl ? 1 : 0)], ssl, true};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 9) {
        std::cerr << "usage: mail_soak COUNT ATTACHMENT PLAIN TLS LATE_PLAIN LATE_TLS DROP_PLAIN DROP_TLS\n";
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const std::string attachment = argv[2];
    tandrel::mail::TMailSender mail;
    mail.SetFrom("loja@example.com");
    mail.SetTimeOut(300);
    int sent = 0;
    int failed = 0;
    int wrong = 0;
    long fdsAt50 = 0;
    long rssAt50 = 0;
    long fdsMax = 0;
    long rssMax = 0;
    const auto start = std::chrono::steady_clock::now();
    std::printf("%6s %6s %10s\n", "send", "fds", "RSS KiB");
    for (int i = 0; i < count; ++i) {
        const Target target = TargetOf(i, argv + 3);
        mail.Clear();
        mail.SetPort(target.port);
        mail.SetSSL(target.ssl);
        mail.SetSubject("Dados Cadastrais do Cliente");
        mail.AddAddress("cliente@example.com");
        mail.AltBody() = {"Nome: CLIENTE " + std::to_string(i), "Cidade: SAO PAULO"};
        mail.AddAttachment(attachment, {}, tandrel::mail::TMailAttachmentDisposition::adAttachment);
        bool ok = true;
        try {
            mail.Send(false);
        } catch (const std::exception&) {
            ok = false;
        }
        (ok ? sent : failed) += 1;
        if (ok == target.troubled) ++wrong;
        const long fds = OpenDescriptors();
        const long rss = ResidentKiB();
        if (i + 1 == 50) {
            fdsAt50 = fds;
            rssAt50 = rss;
        }
        if (i + 1 >= 50) {
            fdsMax = std::max(fdsMax, fds);
            rssMax = std::max(rssMax, rss);
        }
        if ((i + 1) % 50 == 0) std::printf("%6d %6ld %10ld\n", i + 1, fds, rss);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d sends in %.1f s: %d accepted, %d failed (%d not as expected)\n", count, seconds, sent,
                failed, wrong);
    std::printf("from the 50th send on: descriptors +%ld at most, resident size +%ld KiB at most\n",
                fdsMax - fdsAt50, rssMax - rssAt50);
    return wrong == 0 ? 0 : 1;
}
