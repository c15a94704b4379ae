#include "mime/InlineEncoding.h"

namespace tandrel::mime {

bool NeedInline(std::string_view) { return false; }
std::string InlineEncode(std::string_view Value, TMimeChar, TMimeChar) { return std::string(Value); }
std::string InlineCodeEx2(std::string_view Value, TMimeChar, TMimeChar) { return std::string(Value); }
std::string InlineEmailEx2(std::string_view Value, TMimeChar, TMimeChar) { return std::string(Value); }
std::string GetEmailAddr(std::string_view Value) { return std::string(Value); }
std::string GetEmailDesc(std::string_view) { return {}; }
std::string InlineDecode(std::string_view Value, TMimeChar) { return std::string(Value); }
std::size_t SearchEndInline(std::string_view, std::size_t) { return std::string_view::npos; }

}  // namespace tandrel::mime
