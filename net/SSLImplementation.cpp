#include "net/CustomSSL.h"
#include "net/SSLOpenSSL.h"

namespace tandrel::net {

// Every socket made without naming a plug-in speaks TLS through OpenSSL.
TSSLClass SSLImplementation = &CreateSSLOpenSSL;

}  // namespace tandrel::net
