#pragma once
// testing/tls_peer.py on loopback for one test: a TLS server that stays silent after
// the handshake, never answers the client's hello, sends half a record, stops reading,
// or wants a client certificate. Started in
// the constructor, stopped in the destructor.

#include "testing/ChildProcess.h"

#include <stdexcept>
#include <string>

namespace tandrel::testing {

class TlsPeer {
public:
    /// `Mode`: "silent", "mute", "half", "deaf" or "certreq" (see tls_peer.py). Throws
    /// std::runtime_error when the peer does not come up.
    explicit TlsPeer(const std::string& Mode)
        : FProcess({TANDREL_PYTHON, std::string(TANDREL_SOURCE_DIR) + "/testing/tls_peer.py", Mode},
                   {.EndsOnInputClose = true}) {
        const auto first = FProcess.ReadLine(60000);
        if (!first || first->rfind("PORT ", 0) != 0)
            throw std::runtime_error("tls_peer.py did not start: " + FProcess.Output());
        FPort = first->substr(5);
    }

    [[nodiscard]] const std::string& Port() const { return FPort; }

private:
    ChildProcess FProcess;
    std::string FPort;
};

}  // namespace tandrel::testing
