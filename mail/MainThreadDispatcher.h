#pragma once

#include <functional>

namespace tandrel::mail {

/// Runs work on the program's main thread for a sending thread. The program fills it
/// with its toolkit's blocking queued call; tests with a queue their main thread pumps.
class IMainThreadDispatcher {
public:
    virtual ~IMainThreadDispatcher() = default;
    /// Runs `Work` on the main thread and returns once it has run there. `Work` does not
    /// throw (the caller catches inside it). Called only from threads other than the main one.
    virtual void RunAndWait(std::function<void()> Work) = 0;
};

}  // namespace tandrel::mail
