#pragma once
// A scope guard for the mail component's own sources.

#include <utility>

namespace tandrel::mail::detail {

// Runs `action` when leaving the scope, also by an exception.
template <class F>
class AtExit {
public:
    explicit AtExit(F f) : fAction(std::move(f)) {}
    ~AtExit() { fAction(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    F fAction;
};

}  // namespace tandrel::mail::detail
