#pragma once
// Text from a server, made safe to show on the operator's terminal.

#include <string>
#include <string_view>

namespace tandrel::mail::tool {

/// `Text` with every control character written out as a visible escape, so that a
/// server's text can neither move the cursor, clear the screen nor retitle the window:
/// C0 controls and DEL as "\xHH", C1 controls written in UTF-8 as "\u00HH", and bytes
/// that are no UTF-8 (which a terminal may take for C1 controls) as "\xHH". Everything
/// else, backslashes included, stays as it is.
[[nodiscard]] std::string EscapeControls(std::string_view Text);

}  // namespace tandrel::mail::tool
