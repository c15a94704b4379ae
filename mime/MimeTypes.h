#pragma once
// The table of file extensions and their media types used for attachments.

#include <span>
#include <string_view>

namespace tandrel::mime {

/// One row of the extension table: upper-case extension, type, subtype.
struct TMimeTypeRow {
    std::string_view Extension;
    std::string_view Type;
    std::string_view Subtype;
};

/// Every row of the extension table, in lookup order (87 extensions).
std::span<const TMimeTypeRow> MimeType();

/// The first row whose extension equals Extension exactly (upper case, no
/// dot), or nullptr.
const TMimeTypeRow* FindMimeType(std::string_view Extension);

}  // namespace tandrel::mime
