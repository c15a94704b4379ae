#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mail {

/// Writes the pieces (bytes, one after the other) to a new file beside `FileName`, puts it
/// on disk and only then renames it over `FileName`: a reader finds the earlier content
/// or the new one, never a part of it. Throws std::system_error (with the system's
/// reason) when it cannot; an earlier file of that name then stays as it was, and
/// nothing is left beside it.
void ReplaceFile(const std::string& FileName, const std::vector<std::string_view>& Pieces);

}  // namespace tandrel::mail
