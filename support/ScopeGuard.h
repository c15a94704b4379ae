#pragma once
// Runs an action when a scope is left, by return or by exception: for the
// clean-up that belongs to a block rather than to an object.

#include <utility>

namespace tandrel::support {

/// Calls Action once, when the guard is destroyed. Action must not throw.
template <typename F>
class TScopeGuard {
public:
    explicit TScopeGuard(F Action) : FAction(std::move(Action)) {}
    ~TScopeGuard() { FAction(); }
    TScopeGuard(const TScopeGuard&) = delete;
    TScopeGuard& operator=(const TScopeGuard&) = delete;

private:
    F FAction;
};

}  // namespace tandrel::support
