#pragma once
// testing/tls_peer.py on loopback for one test: a TLS server that stays silent after
// the handshake, never answers the client's hello, sends half a record, stops reading,
// or wants a client certificate. Started in
// the constructor, stopped in the destructor.

#include <stdexcept>
#include <string>

#include "testing/ChildProcess.h"

namespace tandrel::testing {

class TlsPeer {
public:
    /// `mode`: "silent", "mute", "half", "deaf" or "certreq" (see tls_peer.py). Throws
    /// std::runtime_error when the peer does not come up.
    explicit TlsPeer(const std::string& mode)
        : process_({TANDREL_PYTHON, std::string(TANDREL_SOURCE_DIR) + "/testing/tls_peer.py", mode},
                   {.EndsOnInputClose = true}) {
        const auto first = process_.ReadLine(60000);
        if (!first || first->rfind("PORT ", 0) != 0)
            throw std::runtime_error("tls_peer.py did not start: " + process_.Output());
        port_ = first->substr(5);
    }

    [[nodiscard]] const std::string& Port() const { return port_; }

private:
    ChildProcess process_;
    std::string port_;
};

}  // namespace tandrel::testing
