#pragma once
// Mail addresses as the envelope and the header carry them: the address of a list
// entry, and a domain with non-ASCII letters written as its IDNA A-label.

#include <string>
#include <string_view>

namespace tandrel::mail {

/// The address of an address-list entry (text): the text after its first "<" outside a
/// quoted display name up to the next ">" (mime::FindEmailAddr), or the whole entry when
/// it has no "<"; trimmed of blanks.
[[nodiscard]] std::string ExtractAddress(std::string_view Entry);

/// The domain of an address: the text after its last "@"; empty when there is none.
[[nodiscard]] std::string_view AddressDomain(std::string_view Address);

/// `Address` (text) with a domain holding non-ASCII letters written as its IDNA A-label
/// ("josé@açaí.com.br" gives "josé@xn--aa-ova3e.com.br"); the local part is kept as it
/// is. An ASCII domain is left unchanged, and so is a domain libidn2 refuses as no valid
/// international name (it stays non-ASCII).
[[nodiscard]] std::string WithAsciiDomain(std::string_view Address);

/// The entry with its address (see `ExtractAddress`) replaced by `WithAsciiDomain` of it;
/// the display name, the brackets and the blanks around the address stay as they are.
[[nodiscard]] std::string EntryWithAsciiDomain(std::string_view Entry);

}  // namespace tandrel::mail
