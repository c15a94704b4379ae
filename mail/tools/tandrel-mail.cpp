// tandrel-mail: builds one mail from the command line (or takes one saved earlier) and
// sends it, or saves it.
// Exit status: 0 accepted by the server (or saved), 1 the send (or the save) failed, 2 bad
// arguments or a file that cannot be read.

#include "mail/EAbort.h"
#include "mail/MailSender.h"
#include "mail/detail/MailAddress.h"
#include "mail/tools/EmlMessage.h"
#include "mail/tools/NumberArgument.h"
#include "mail/tools/Password.h"
#include "mail/tools/SmtpTranscript.h"
#include "mail/tools/TerminalText.h"
#include "support/FileBytes.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using tandrel::mail::TMailAttachmentDisposition;
using tandrel::mail::TMailSender;
using tandrel::mail::tool::AskPassword;
using tandrel::mail::tool::EnvelopeOf;
using tandrel::mail::tool::EscapeControls;
using tandrel::mail::tool::OthersMayRead;
using tandrel::mail::tool::ParseNumberArgument;
using tandrel::mail::tool::ReadMessageFile;
using tandrel::mail::tool::ReadPasswordFile;
using tandrel::mail::tool::TEnvelope;
using tandrel::mail::tool::TSmtpTranscript;
using tandrel::mime::TMessPriority;

constexpr std::string_view kUsage = R"(Usage: tandrel-mail [options]
Builds one mail (or takes one saved earlier) and sends it over SMTP, printing each step on stderr.

Server:
  --host HOST            SMTP server (default 127.0.0.1)
  --port PORT            port (default 25)
  --ssl                  TLS from the first byte (SMTPS)
  --tls                  STARTTLS (a server that does not offer it gets no login and
                         no mail, unless --insecure)
  --ca-file FILE         trust the certificate authorities in FILE (PEM) instead of the system's
  --insecure             do not check the server's certificate; with --tls a server that
                         does not offer STARTTLS then gets the password and the mail unencrypted
  --user NAME            account for authentication: the mail is sent only once the login
                         succeeded (in the clear CRAM-MD5 is preferred when offered)
  --password-file FILE   its password: the first line of FILE (a UTF-8 byte-order mark is
                         not part of it; a warning when other users may read FILE)
  --password SECRET      its password (other users of this machine can read it; prefer
                         --password-file, the TANDREL_MAIL_PASSWORD environment variable,
                         or the prompt that --user alone gives on a terminal)
  --timeout MS           wait for each reply and for the connection, milliseconds
  --attempts N           tries of each step, 1 to 255 (default 3)
  --verbose              show the SMTP conversation on stderr (secrets hidden)
Message (texts are UTF-8):
  --from ADDRESS         sender (required to send, unless --eml's From gives it)
  --from-name NAME       sender's display name
  --to ADDRESS           recipient; repeatable; "a@x;b@y" adds both; an empty one is refused
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
  --delivery-receipt     ask for delivery status notifications (the send fails, before the
                         login, when the server offers none)
  --save FILE.eml        build the mail and write it to FILE.eml instead of sending: whole,
                         or not at all (an earlier FILE.eml then stays); --bcc is not kept
  --eml FILE             send the message in FILE ("-": standard input) as it is; without
                         --to/--cc/--bcc its To and Cc headers are the recipients, without
                         --from its From header is the sender
  --help                 this text
  --version              the program's version
With --ssl or --tls the server's certificate must be signed by a trusted authority and
name HOST. A message larger than the size the server announces is not sent.
Exit status: 0 sent (or saved), 1 the send (or the save) failed, 2 bad arguments or a
file that cannot be read.
)";

struct Options {
    std::string host = "127.0.0.1";
    std::string port = "25";
    bool ssl = false;
    bool tls = false;
    std::string caFile;
    bool insecure = false;
    std::string user;
    std::optional<std::string> password;
    std::string passwordFile;
    bool verbose = false;
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
    std::string eml;
    std::vector<std::string> emlRecipients;  // from the message's header
    bool help = false;
    bool version = false;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

int ParseInt(std::string_view Option, const std::string& Text, int Low, int High) {
    if (const std::optional<int> value = ParseNumberArgument(Text, Low, High)) return *value;
    throw UsageError(std::string(Option) + " wants a number from " + std::to_string(Low) + " to " +
                     std::to_string(High) + ", not \"" + Text + "\"");
}

TMessPriority ParsePriority(const std::string& Text) {
    if (Text == "low") return TMessPriority::MP_low;
    if (Text == "normal") return TMessPriority::MP_normal;
    if (Text == "high") return TMessPriority::MP_high;
    throw UsageError("--priority wants low, normal or high, not \"" + Text + "\"");
}

// What keeps `Path` from being read as a file, in the system's words; empty when nothing
// does. A FIFO is not opened: that would wait for a writer.
std::string Unreadable(const std::string& Path) {
    struct stat status {};
    if (::stat(Path.c_str(), &status) != 0) return std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return "it is a directory";
    if (S_ISFIFO(status.st_mode)) return "it is a FIFO (named pipe), not a file";
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    const int handle = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) return std::strerror(errno);
    ::close(handle);
    return {};
}

void RequireFile(std::string_view Option, const std::string& Path) {
    if (const std::string reason = Unreadable(Path); !reason.empty())
        throw UsageError(std::string(Option) + ": cannot read \"" + Path + "\": " + reason);
}

// Each value of a recipient option must name an address: an empty one ("", " ; ;", or
// "a@x;" with its empty second entry) would go to the server as "RCPT TO:<>".
void RequireAddresses(std::string_view Option, const std::vector<std::string>& Values) {
    for (const auto& value : Values) {
        TMailSender split;  // splits at ";,|" as the send will
        split.AddBCC(value);
        for (const auto& entry : split.BCC())
            if (tandrel::mail::ExtractAddress(entry).empty())
                throw UsageError(std::string(Option) + ": no address in \"" + value + "\"");
    }
}

// Options that contradict each other, or a send that lacks what it needs.
void Check(const Options& O) {
    if (O.insecure && !O.caFile.empty()) throw UsageError("--ca-file and --insecure contradict each other");
    if (!O.caFile.empty() && !O.ssl && !O.tls) throw UsageError("--ca-file needs --ssl or --tls");
    if (O.password && !O.passwordFile.empty())
        throw UsageError("give --password or --password-file, not both");
    RequireAddresses("--to", O.to);
    RequireAddresses("--cc", O.cc);
    RequireAddresses("--bcc", O.bcc);
    if (!O.eml.empty()) {
        if (O.eml != "-") RequireFile("--eml", O.eml);
        if (!O.save.empty())
            throw UsageError("--eml sends a saved message; it cannot be saved again with --save");
        const bool builds = !O.fromName.empty() || !O.replyTo.empty() || !O.subject.empty() ||
                            !O.bodyFile.empty() || !O.htmlFile.empty() || !O.attach.empty() ||
                            !O.inlineFiles.empty() || O.priority != TMessPriority::MP_normal ||
                            O.readReceipt || O.deliveryReceipt;
        if (builds)
            throw UsageError("--eml sends the message as it is: options that build a message do not apply");
        return;  // sender and recipients may come from the message
    }
    if (!O.save.empty()) return;
    if (O.from.empty()) throw UsageError("--from is required to send");
    if (O.to.empty() && O.cc.empty() && O.bcc.empty())
        throw UsageError("at least one --to, --cc or --bcc is required");
}

// The long options' own codes, after every character a short option could be.
enum OptionCode : int {
    kVersion = 256,
    kHost,
    kPort,
    kSsl,
    kTls,
    kCaFile,
    kInsecure,
    kUser,
    kPassword,
    kPasswordFile,
    kTimeout,
    kAttempts,
    kFrom,
    kFromName,
    kTo,
    kCc,
    kBcc,
    kReplyTo,
    kSubject,
    kBodyFile,
    kHtmlFile,
    kAttach,
    kInline,
    kPriority,
    kReadReceipt,
    kDeliveryReceipt,
    kSave,
    kEml,
};

constexpr option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"host", required_argument, nullptr, kHost},
    {"port", required_argument, nullptr, kPort},
    {"ssl", no_argument, nullptr, kSsl},
    {"tls", no_argument, nullptr, kTls},
    {"ca-file", required_argument, nullptr, kCaFile},
    {"insecure", no_argument, nullptr, kInsecure},
    {"user", required_argument, nullptr, kUser},
    {"password", required_argument, nullptr, kPassword},
    {"password-file", required_argument, nullptr, kPasswordFile},
    {"verbose", no_argument, nullptr, 'v'},
    {"timeout", required_argument, nullptr, kTimeout},
    {"attempts", required_argument, nullptr, kAttempts},
    {"from", required_argument, nullptr, kFrom},
    {"from-name", required_argument, nullptr, kFromName},
    {"to", required_argument, nullptr, kTo},
    {"cc", required_argument, nullptr, kCc},
    {"bcc", required_argument, nullptr, kBcc},
    {"reply-to", required_argument, nullptr, kReplyTo},
    {"subject", required_argument, nullptr, kSubject},
    {"body-file", required_argument, nullptr, kBodyFile},
    {"html-file", required_argument, nullptr, kHtmlFile},
    {"attach", required_argument, nullptr, kAttach},
    {"inline", required_argument, nullptr, kInline},
    {"priority", required_argument, nullptr, kPriority},
    {"read-receipt", no_argument, nullptr, kReadReceipt},
    {"delivery-receipt", no_argument, nullptr, kDeliveryReceipt},
    {"save", required_argument, nullptr, kSave},
    {"eml", required_argument, nullptr, kEml},
    {nullptr, 0, nullptr, 0},
};

// "--name" of the option with this code, for messages: the name in full, however the
// command line abbreviated it.
std::string OptionName(int Code) {
    if (Code == 'h') return "--help";
    if (Code == 'v') return "--verbose";
    for (const option* o = kOptions; o->name; ++o)
        if (o->val == Code) return std::string("--") + o->name;
    return std::string("-") + static_cast<char>(Code);
}

// What getopt_long refused: `Written` is the word of the command line, `Code` its
// optopt (an option of ours given a value it does not take, a short option we lack, or
// 0 for a long name that is unknown or abbreviates several).
UsageError Refused(std::string_view Written, int Code) {
    if (Code > 0 && Written.starts_with("--")) return UsageError(OptionName(Code) + " takes no value");
    if (Code > 0) return UsageError("unknown option \"-" + std::string(1, static_cast<char>(Code)) + "\"");
    const std::string_view name = Written.starts_with("--") ? Written.substr(2, Written.find('=') - 2) : "";
    std::string matches;
    for (const option* o = kOptions; o->name; ++o)
        if (std::string_view(o->name).starts_with(name))
            matches += std::string(matches.empty() ? "" : ", ") + "--" + o->name;
    if (!name.empty() && matches.find(',') != std::string::npos)
        return UsageError("ambiguous option \"" + std::string(Written) + "\": " + matches);
    return UsageError("unknown option \"" + std::string(Written) + "\"");
}

// One option with its value (null for those that take none).
void Apply(Options& O, int Code, const char* Value) {
    const std::string name = OptionName(Code);
    switch (Code) {
        case 'h': O.help = true; break;
        case kVersion: O.version = true; break;
        case kHost: O.host = Value; break;
        case kPort: O.port = std::to_string(ParseInt(name, Value, 1, 65535)); break;
        case kSsl: O.ssl = true; break;
        case kTls: O.tls = true; break;
        case kCaFile: RequireFile(name, O.caFile = Value); break;
        case kInsecure: O.insecure = true; break;
        case kUser: O.user = Value; break;
        case kPassword: O.password = Value; break;
        case kPasswordFile: RequireFile(name, O.passwordFile = Value); break;
        case 'v': O.verbose = true; break;
        case kTimeout: O.timeout = ParseInt(name, Value, 1, 86400000); break;
        case kAttempts: O.attempts = ParseInt(name, Value, 1, 255); break;
        case kFrom: O.from = Value; break;
        case kFromName: O.fromName = Value; break;
        case kTo: O.to.emplace_back(Value); break;
        case kCc: O.cc.emplace_back(Value); break;
        case kBcc: O.bcc.emplace_back(Value); break;
        case kReplyTo: O.replyTo.emplace_back(Value); break;
        case kSubject: O.subject = Value; break;
        case kBodyFile: RequireFile(name, O.bodyFile = Value); break;
        case kHtmlFile: RequireFile(name, O.htmlFile = Value); break;
        case kAttach: RequireFile(name, O.attach.emplace_back(Value)); break;
        case kInline: RequireFile(name, O.inlineFiles.emplace_back(Value)); break;
        case kPriority: O.priority = ParsePriority(Value); break;
        case kReadReceipt: O.readReceipt = true; break;
        case kDeliveryReceipt: O.deliveryReceipt = true; break;
        case kSave: O.save = Value; break;
        case kEml: O.eml = Value; break;
    }
}

// "--name value" and "--name=value"; "--" ends the options. The tool takes no other
// arguments: "+" stops at the first word that is not an option, which is refused.
Options Parse(int Argc, char** Argv) {
    Options o;
    opterr = 0;  // the refusals are ours, in our words
    for (int code; (code = ::getopt_long(Argc, Argv, "+:hv", kOptions, nullptr)) != -1;) {
        const std::string_view written = Argv[optind - 1];
        if (code == ':')
            throw UsageError(std::string(written.substr(0, written.find('='))) + " needs a value");
        if (code == '?') throw Refused(written, optopt);
        Apply(o, code, optarg);
    }
    if (optind < Argc)
        throw UsageError("unexpected argument \"" + std::string(Argv[optind]) +
                         "\": the tool takes options only");
    if (o.help || o.version) return o;
    Check(o);
    return o;
}

// The lines of a UTF-8 text file, without their line ends (LF, or CR LF). One that
// cannot be read is bad input, with the system's reason.
std::vector<std::string> ReadLines(std::string_view Option, const std::string& Path) {
    try {
        return tandrel::support::ReadFileLines(Path);
    } catch (const std::system_error& e) {
        throw UsageError(std::string(Option) + ": cannot read \"" + Path + "\": " + e.code().message());
    }
}

void Fill(TMailSender& Mail, const Options& O) {
    Mail.SetHost(O.host);
    Mail.SetPort(O.port);
    Mail.SetSSL(O.ssl);
    Mail.SetTLS(O.tls);
    Mail.SetVerifyCert((O.ssl || O.tls) && !O.insecure);
    Mail.SetCertCAFile(O.caFile);
    Mail.SetUsername(O.user);
    Mail.SetPassword(O.password.value_or(""));
    Mail.SetStrictAuth(true);  // --user asks for a login: without one nothing is sent
    if (O.timeout) Mail.SetTimeOut(*O.timeout);
    Mail.SetAttempts(static_cast<std::uint8_t>(O.attempts));
    Mail.SetDefaultCharset(tandrel::mime::TMimeChar::UTF_8);
    Mail.SetIDECharset(tandrel::mime::TMimeChar::CP1252);
    Mail.SetFrom(O.from);
    Mail.SetFromName(O.fromName);
    Mail.SetSubject(O.subject);
    Mail.SetPriority(O.priority);
    Mail.SetReadingConfirmation(O.readReceipt);
    Mail.SetDeliveryConfirmation(O.deliveryReceipt);
    for (const auto& a : O.to) Mail.AddAddress(a);
    for (const auto& a : O.cc) Mail.AddCC(a);
    for (const auto& a : O.bcc) Mail.AddBCC(a);
    // Addresses taken from a header are whole already: no splitting at ";,|".
    for (const auto& a : O.emlRecipients) Mail.MIMEMess().Header().ToList().push_back(a);
    for (const auto& a : O.replyTo) Mail.AddReplyTo(a);
    if (!O.bodyFile.empty()) Mail.AltBody() = ReadLines("--body-file", O.bodyFile);
    if (!O.htmlFile.empty()) {
        Mail.Body() = ReadLines("--html-file", O.htmlFile);
        Mail.SetIsHTML(true);
    }
    // Checked readable when parsed; one that went away since is bad input all the same.
    const auto attach = [&](std::string_view Option, const std::string& File,
                            TMailAttachmentDisposition How) {
        try {
            Mail.AddAttachment(File, {}, How);
        } catch (const std::runtime_error&) {
            RequireFile(Option, File);
            throw UsageError(std::string(Option) + ": cannot read \"" + File + "\"");
        }
    };
    for (const auto& f : O.attach) attach("--attach", f, TMailAttachmentDisposition::adAttachment);
    for (const auto& f : O.inlineFiles) attach("--inline", f, TMailAttachmentDisposition::adInline);
}

// The component's messages end with CR LF and may hold several server lines: one
// terminal line each, control characters escaped.
std::string ForTerminal(std::string_view Text) {
    std::string out;
    while (!Text.empty()) {
        const auto end = Text.find("\r\n");
        if (!out.empty()) out += '\n';
        out += EscapeControls(Text.substr(0, end));
        if (end == std::string_view::npos) break;
        Text.remove_prefix(end + 2);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The password from the first source that has one: --password, --password-file, the
// environment, or (for an account on a terminal) the operator.
void ResolvePassword(Options& O) {
    if (O.password) return;
    if (!O.passwordFile.empty()) {
        try {
            O.password = ReadPasswordFile(O.passwordFile);
        } catch (const std::runtime_error& e) {
            throw UsageError(e.what());
        }
        if (OthersMayRead(O.passwordFile))
            std::cerr << "tandrel-mail: warning: other users of this machine may read the password file \""
                      << O.passwordFile << "\" (chmod 600 it)" << std::endl;
        return;
    }
    if (const char* fromEnvironment = std::getenv("TANDREL_MAIL_PASSWORD")) {
        O.password = fromEnvironment;
        return;
    }
    if (O.user.empty() || !O.save.empty()) return;
    O.password = AskPassword("Password for " + O.user + " at " + O.host + ": ");
    // An empty password would only be refused by the server, or worse, taken.
    if (!O.password)
        throw UsageError("--user " + O.user +
                         " needs a password: give --password-file or TANDREL_MAIL_PASSWORD, or run on a "
                         "terminal to be asked");
}

// Reads the message of --eml; sender and recipients come from its header unless given.
std::string LoadEml(Options& O) {
    std::string message;
    try {
        message = ReadMessageFile(O.eml);
    } catch (const std::runtime_error& e) {
        throw UsageError(std::string("--eml: ") + e.what());
    }
    if (message.empty()) throw UsageError("--eml: the message is empty");
    const TEnvelope envelope = EnvelopeOf(message);
    if (O.from.empty()) O.from = envelope.From;
    if (O.to.empty() && O.cc.empty() && O.bcc.empty()) O.emlRecipients = envelope.Recipients;
    if (O.from.empty()) throw UsageError("--eml: the message has no From address; give --from");
    if (O.to.empty() && O.cc.empty() && O.bcc.empty() && O.emlRecipients.empty())
        throw UsageError("--eml: the message names no recipient in To or Cc; give --to, --cc or --bcc");
    return message;
}

int Run(const Options& O, std::string Message) {
    TSmtpTranscript transcript(std::cerr);  // outlives the mail's socket
    TMailSender mail;
    if (O.verbose) transcript.Attach(mail.SMTP());
    mail.SetOnMailProcess([&O](const TMailSender& Sender, tandrel::mail::TMailStatus Status) {
        std::cerr << tandrel::mail::MailStatusName(Status) << std::endl;
        if (Status == tandrel::mail::TMailStatus::pmsStartSends && O.tls && !O.ssl &&
            !Sender.SMTP().Sock().SSL().SSLEnabled())
            std::cerr << "tandrel-mail: warning: the server does not offer STARTTLS: the connection is not "
                         "encrypted"
                      << std::endl;
    });
    Fill(mail, O);
    if (!O.save.empty()) {
        if (!O.bcc.empty())
            std::cerr << "tandrel-mail: warning: --bcc: blind-copy recipients are not kept in the saved file"
                      << std::endl;
        mail.SaveToFile(O.save);
        return EXIT_SUCCESS;
    }
    if (O.insecure && O.tls && !O.ssl)
        std::cerr
            << "tandrel-mail: --insecure: the server's certificate is not checked, and a server that does "
               "not offer STARTTLS gets the password and the mail unencrypted"
            << std::endl;
    else if (O.insecure && (O.ssl || O.tls))
        std::cerr << "tandrel-mail: --insecure: the server's certificate is not checked" << std::endl;
    try {
        if (O.eml.empty())
            mail.Send(false);
        else
            mail.SendBuiltMessage(std::move(Message));
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
    std::string message;
    try {
        options = Parse(argc, argv);
        if (!options.help && !options.version) {
            ResolvePassword(options);
            if (!options.eml.empty()) message = LoadEml(options);
        }
    } catch (const UsageError& e) {
        std::cerr << "tandrel-mail: " << e.what() << "\nTry tandrel-mail --help.\n";
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return EXIT_SUCCESS;
    }
    if (options.version) {
        std::cout << "tandrel-mail " << TANDREL_VERSION << '\n';
        return EXIT_SUCCESS;
    }
    try {
        return Run(options, std::move(message));
    } catch (const UsageError& e) {
        std::cerr << "tandrel-mail: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tandrel-mail: " << ForTerminal(e.what()) << '\n';
        return EXIT_FAILURE;
    }
}
