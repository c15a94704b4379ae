#pragma once
// The openssl command line tool as a peer of the TLS tests: its stdout and stderr
// come back through one pipe, its stdin is a pipe the test writes to, and it is
// signalled to end with its object.

#include "testing/ChildProcess.h"

#include <string>
#include <vector>

namespace tandrel::net::testing {

/// One running openssl (or other tool) in `Workdir` (empty: the test's own folder).
/// Throws std::runtime_error when it cannot be started.
class TlsProcess : public tandrel::testing::ChildProcess {
public:
    TlsProcess(const std::vector<std::string>& Argv, const std::string& Workdir)
        : ChildProcess(Argv, {.WorkDir = Workdir, .MergeStderr = true}) {}
};

}  // namespace tandrel::net::testing
