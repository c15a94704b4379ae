#pragma once

#include <exception>

namespace tandrel::mail {

/// The silent abort: ends the current operator action without any message.
/// The program's default error display ignores it; the mail component raises it
/// when its exception handler declines the error (clears `ThrowIt`).
class EAbort : public std::exception {
public:
    /// A fixed text, never shown to the operator.
    const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace tandrel::mail
