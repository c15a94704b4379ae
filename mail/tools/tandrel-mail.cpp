// tandrel-mail: builds one mail from the command line and sends it (or saves it).
// Exit status: 0 accepted by the server (or saved), 1 the send failed, 2 bad arguments.

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EAbort.h"
#include "mail/MailSender.h"

namespace {

using tandrel::mail::TMailAttachmentDisposition;
using tandrel::mail::TMailSender;
using tandrel::mime::TMessPriority;

constexpr std::string_view kUsage = R"(Usage: tandrel-mail [options]
Builds one mail and sends it over SMTP, printing each step on stderr.

Server:
  --host HOST            SMTP server (default 127.0.0.1)
  --port PORT            port (default 25)
  --ssl                  TLS from the first byte (SMTPS)
  --tls                  STARTTLS when the server offers it
  --user NAME            account for authentication
  --password SECRET      its password
  --timeout MS           wait for each reply and for the connection, milliseconds
  --attempts N           tries of each step, 1 to 255 (default 3)
Message (texts are UTF-8):
  --from ADDRESS         sender (required to send)
  --from-name NAME       sender's display name
  --to ADDRESS           recipient; repeatable; "a@x;b@y" adds both
  --cc ADDRESS           copy recipient; repeatable
  --bcc ADDRESS          blind-copy recipient; repeatable
  --reply-to ADDRESS     reply address; repeatable
  --subject TEXT         subject
  --body-file FILE       plain-text body, UTF-8
  --html-file FILE       HTML body, UTF-8
  --attach FILE          attachment; repeatable
  --inline FILE          inline attachment (a picture the HTML names as cid:FILENAME); repeatable
  --priority P           low, normal or high
  --read-receipt         ask for a read receipt
  --delivery-receipt     ask for delivery status notifications
  --save FILE.eml        build the mail and write it to FILE.eml instead of sending
  --help                 this text
Exit status: 0 sent (or saved), 1 the send failed, 2 bad arguments.
)";

struct Options {
    std::string host = "127.0.0.1";
    std::string port = "25";
    bool ssl = false;
    bool tls = false;
    std::string user;
    std::string password;
    std::optional<int> timeout;
    int attempts = 3;
    std::string from;
    std::string fromName;
    std::vector<std::string> to, cc, bcc, replyTo;
    std::string subject;
    std::string bodyFile;
    std::string htmlFile;
    std::vector<std::string> attach;
    std::vector<std::string> inlineFiles;
    TMessPriority priority = TMessPriority::MP_normal;
    bool readReceipt = false;
    bool deliveryReceipt = false;
    std::string save;
    bool help = false;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

int ParseInt(std::string_view option, const std::string& text, int low, int high) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high)
        throw UsageError(std::string(option) + " wants a number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

TMessPriority ParsePriority(const std::string& text) {
    if (text == "low") return TMessPriority::MP_low;
    if (text == "normal") return TMessPriority::MP_normal;
    if (text == "high") return TMessPriority::MP_high;
    throw UsageError("--priority wants low, normal or high, not \"" + text + "\"");
}

void RequireFile(std::string_view option, const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw UsageError(std::string(option) + ": no such file \"" + path + "\"");
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") o.help = true;
        else if (arg == "--host") o.host = value();
        else if (arg == "--port") o.port = std::to_string(ParseInt(arg, value(), 1, 65535));
        else if (arg == "--ssl") o.ssl = true;
        else if (arg == "--tls") o.tls = true;
        else if (arg == "--user") o.user = value();
        else if (arg == "--password") o.password = value();
        else if (arg == "--timeout") o.timeout = ParseInt(arg, value(), 1, 86400000);
        else if (arg == "--attempts") o.attempts = ParseInt(arg, value(), 1, 255);
        else if (arg == "--from") o.from = value();
        else if (arg == "--from-name") o.fromName = value();
        else if (arg == "--to") o.to.push_back(value());
        else if (arg == "--cc") o.cc.push_back(value());
        else if (arg == "--bcc") o.bcc.push_back(value());
        else if (arg == "--reply-to") o.replyTo.push_back(value());
        else if (arg == "--subject") o.subject = value();
        else if (arg == "--body-file") RequireFile(arg, o.bodyFile = value());
        else if (arg == "--html-file") RequireFile(arg, o.htmlFile = value());
        else if (arg == "--attach") RequireFile(arg, o.attach.emplace_back(value()));
        else if (arg == "--inline") RequireFile(arg, o.inlineFiles.emplace_back(value()));
        else if (arg == "--priority") o.priority = ParsePriority(value());
        else if (arg == "--read-receipt") o.readReceipt = true;
        else if (arg == "--delivery-receipt") o.deliveryReceipt = true;
        else if (arg == "--save") o.save = value();
        else throw UsageError("unknown option \"" + std::string(arg) + "\"");
    }
    if (o.help || !o.save.empty()) return o;
    if (o.from.empty()) throw UsageError("--from is required to send");
    if (o.to.empty() && o.cc.empty() && o.bcc.empty()) throw UsageError("at least one --to, --cc or --bcc is required");
    return o;
}

// The lines of a UTF-8 text file, without their line ends.
std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void Fill(TMailSender& mail, const Options& o) {
    mail.SetHost(o.host);
    mail.SetPort(o.port);
    mail.SetSSL(o.ssl);
    mail.SetTLS(o.tls);
    mail.SetUsername(o.user);
    mail.SetPassword(o.password);
    if (o.timeout) mail.SetTimeOut(*o.timeout);
    mail.SetAttempts(static_cast<std::uint8_t>(o.attempts));
    mail.SetDefaultCharset(tandrel::mime::TMimeChar::UTF_8);
    mail.SetIDECharset(tandrel::mime::TMimeChar::CP1252);
    mail.SetFrom(o.from);
    mail.SetFromName(o.fromName);
    mail.SetSubject(o.subject);
    mail.SetPriority(o.priority);
    mail.SetReadingConfirmation(o.readReceipt);
    mail.SetDeliveryConfirmation(o.deliveryReceipt);
    for (const auto& a : o.to) mail.AddAddress(a);
    for (const auto& a : o.cc) mail.AddCC(a);
    for (const auto& a : o.bcc) mail.AddBCC(a);
    for (const auto& a : o.replyTo) mail.AddReplyTo(a);
    if (!o.bodyFile.empty()) mail.AltBody() = ReadLines(o.bodyFile);
    if (!o.htmlFile.empty()) {
        mail.Body() = ReadLines(o.htmlFile);
        mail.SetIsHTML(true);
    }
    for (const auto& f : o.attach) mail.AddAttachment(f, {}, TMailAttachmentDisposition::adAttachment);
    for (const auto& f : o.inlineFiles) mail.AddAttachment(f, {}, TMailAttachmentDisposition::adInline);
}

// The component's messages end with CR LF and may hold several server lines.
std::string ForTerminal(std::string text) {
    std::string out;
    for (const char c : text) {
        if (c != '\r') out += c;
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

int Run(const Options& o) {
    TMailSender mail;
    mail.SetOnMailProcess([](const TMailSender&, tandrel::mail::TMailStatus status) {
        std::cerr << tandrel::mail::MailStatusName(status) << std::endl;
    });
    Fill(mail, o);
    if (!o.save.empty()) {
        mail.SaveToFile(o.save);
        return EXIT_SUCCESS;
    }
    try {
        mail.Send(false);
        return EXIT_SUCCESS;
    } catch (const std::exception& e) {
        // The component's message ends with what ended the conversation: the
        // server's answers, or the socket's error when the connection failed.
        std::cerr << "tandrel-mail: " << ForTerminal(e.what()) << '\n';
        return EXIT_FAILURE;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "tandrel-mail: " << e.what() << "\nTry tandrel-mail --help.\n";
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return EXIT_SUCCESS;
    }
    try {
        return Run(options);
    } catch (const std::exception& e) {
        std::cerr << "tandrel-mail: " << ForTerminal(e.what()) << '\n';
        return EXIT_FAILURE;
    }
}
