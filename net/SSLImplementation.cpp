#include "net/CustomSSL.h"

namespace tandrel::net {

TSSLClass SSLImplementation = &CreateSSLNone;

}  // namespace tandrel::net
