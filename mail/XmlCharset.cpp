#include "mail/detail/XmlCharset.h"

namespace tandrel::mail {

namespace {

using mime::TMimeChar;

bool IsXmlSpace(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

std::string_view SkipSpace(std::string_view Text) {
    while (!Text.empty() && IsXmlSpace(Text.front())) Text.remove_prefix(1);
    return Text;
}

// The value of the declaration's encoding pseudo-attribute; empty when it has none.
std::string_view DeclaredEncoding(std::string_view Declaration) {
    const auto name = Declaration.find("encoding");
    if (name == std::string_view::npos) return {};
    std::string_view rest = SkipSpace(Declaration.substr(name + 8));
    if (rest.empty() || rest.front() != '=') return {};
    rest = SkipSpace(rest.substr(1));
    if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return {};
    const char quote = rest.front();
    rest.remove_prefix(1);
    const auto close = rest.find(quote);
    return close == std::string_view::npos ? std::string_view() : rest.substr(0, close);
}

}  // namespace

TMimeChar XmlCharset(std::string_view Bytes) {
    using namespace std::string_view_literals;
    if (Bytes.starts_with("\xFE\xFF"sv) || Bytes.starts_with("\xFF\xFE"sv)) return TMimeChar::UTF_16;
    if (Bytes.starts_with("\0<\0?"sv)) return TMimeChar::UTF_16;
    if (Bytes.starts_with("<\0?\0"sv)) return TMimeChar::UTF_16LE;
    // The UTF-8 mark says more about the bytes than a declaration that would contradict it.
    if (Bytes.starts_with("\xEF\xBB\xBF"sv)) return TMimeChar::UTF_8;
    if (!Bytes.starts_with("<?xml") || Bytes.size() < 6 || !IsXmlSpace(Bytes[5])) return TMimeChar::UTF_8;
    const auto end = Bytes.find("?>");
    if (end == std::string_view::npos) return TMimeChar::UTF_8;
    const std::string_view encoding = DeclaredEncoding(Bytes.substr(5, end - 5));
    return encoding.empty() ? TMimeChar::UTF_8 : mime::GetCPFromID(encoding);
}

}  // namespace tandrel::mail
