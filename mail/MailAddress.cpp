#include "mail/detail/MailAddress.h"

#include "mime/InlineEncoding.h"
#include "support/AsciiText.h"

#include <idn2.h>

#include <memory>

namespace tandrel::mail {

using support::IsAscii;

namespace {

struct Idn2Free {
    void operator()(char* P) const { idn2_free(P); }
};

// The IDNA A-label form of a UTF-8 domain; empty when libidn2 refuses it. Transitional
// processing would turn "ß" into "ss" and reach another domain than the one typed.
std::string AsciiDomain(std::string_view Domain) {
    const std::string input(Domain);
    char* output = nullptr;
    const int rc = idn2_to_ascii_8z(input.c_str(), &output, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    const std::unique_ptr<char, Idn2Free> owned(output);
    return rc == IDN2_OK && owned ? std::string(owned.get()) : std::string();
}

}  // namespace

std::string ExtractAddress(std::string_view Entry) {
    const mime::TEmailAddrSpan span = mime::FindEmailAddr(Entry);
    return std::string(support::TrimBlank(Entry.substr(span.First, span.Last - span.First)));
}

std::string_view AddressDomain(std::string_view Address) {
    const auto at = Address.rfind('@');
    return at == std::string_view::npos ? std::string_view() : Address.substr(at + 1);
}

std::string WithAsciiDomain(std::string_view Address) {
    const std::string_view domain = AddressDomain(Address);
    if (IsAscii(domain)) return std::string(Address);
    const std::string ascii = AsciiDomain(domain);
    if (ascii.empty()) return std::string(Address);
    return std::string(Address.substr(0, Address.size() - domain.size())) + ascii;
}

std::string EntryWithAsciiDomain(std::string_view Entry) {
    const mime::TEmailAddrSpan span = mime::FindEmailAddr(Entry);
    const std::string_view inner = Entry.substr(span.First, span.Last - span.First);
    const std::string_view address = support::TrimBlank(inner);
    if (IsAscii(AddressDomain(address))) return std::string(Entry);
    const std::size_t at = span.First + static_cast<std::size_t>(address.data() - inner.data());
    std::string result(Entry);
    result.replace(at, address.size(), WithAsciiDomain(address));
    return result;
}

}  // namespace tandrel::mail
