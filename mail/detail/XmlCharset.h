#pragma once
// The character set an XML document is written in, as the document itself says.

#include "mime/Charsets.h"

#include <string_view>

namespace tandrel::mail {

/// The charset of an XML document's bytes: a UTF-16 byte order mark (or a declaration
/// begun in UTF-16) gives `UTF_16` or `UTF_16LE`, a UTF-8 one `UTF_8`; otherwise the
/// encoding its XML declaration names (a name the charset table does not know gives
/// `ISO_8859_1`, as every unknown name does); with no declaration or no encoding in it,
/// `UTF_8`, as XML itself reads such a document.
[[nodiscard]] mime::TMimeChar XmlCharset(std::string_view Bytes);

}  // namespace tandrel::mail
