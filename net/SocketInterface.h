#pragma once
// Process-wide socket binding and name resolution: host and port texts to one
// socket address (IPv4 preferred), addresses back to text, and the lookups
// behind the sockets' Resolve* operations.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tandrel::net {

/// One socket address, IPv4 or IPv6, told apart by the family field.
/// Zero-filled when default-constructed.
union TVarSin {
    // The largest member first: zeroing it zeroes the whole record.
    sockaddr_in6 sin6;
    sockaddr sa;
    sockaddr_in sin;

    TVarSin() noexcept;
    /// AF_INET, AF_INET6 or another family (AF_UNSPEC when zero).
    [[nodiscard]] int Family() const noexcept { return sa.sa_family; }
};

/// Length of the family's own address structure; 0 for any other family.
[[nodiscard]] socklen_t SizeOfVarSin(const TVarSin& Sin) noexcept;

/// Guards binding and unbinding of the socket interface.
extern std::mutex SockCS;
/// How many users bound the socket interface.
extern int SockCount;
/// The address lookups getaddrinfo/getnameinfo are available (always here).
extern bool SockEnhancedApi;
/// Those lookups came only from an add-on library (never here).
extern bool SockWship6Api;

/// Binds the socket interface for one more user; the library name is ignored
/// because the calls are linked directly. Returns true.
[[nodiscard]] bool InitSocketInterface(const std::string& Stub);
/// Releases one use of the socket interface (the count never goes below 0).
bool DestroySocketInterface();
/// True when lookups take the getaddrinfo path for this family (always here).
[[nodiscard]] bool IsNewApi(int Family) noexcept;

/// Fills Sin from host and port texts: with AF_UNSPEC two passes (IPv4 first
/// while PreferIP4), else one; only the first answer is used. Returns 0 or the
/// lookup's error number (11001 "Host not found" and its kin).
int SetVarSin(TVarSin& Sin, const std::string& IP, const std::string& Port, int Family, int SockProtocol,
              int SockType, bool PreferIP4);
/// Numeric host text of the address; empty when it cannot be formed.
[[nodiscard]] std::string GetSinIP(const TVarSin& Sin);
/// Port of the address in host order.
[[nodiscard]] int GetSinPort(const TVarSin& Sin) noexcept;
/// Every address of Name as numeric text, filtered by Family when it is
/// AF_INET or AF_INET6; "0.0.0.0" alone when none is found.
void ResolveNameToIP(const std::string& Name, int Family, int SockProtocol, int SockType,
                     std::vector<std::string>& IPList);
/// Port number of a number or service text; 0 when neither.
[[nodiscard]] int ResolvePort(const std::string& Port, int Family, int SockProtocol, int SockType);
/// Host name of a numeric address; the address text itself when none is known.
[[nodiscard]] std::string ResolveIPToName(const std::string& IP, int Family, int SockProtocol, int SockType);
/// The local machine's name; empty when the platform gives none.
[[nodiscard]] std::string GetHostName();
/// The fully qualified domain name the system knows for Name (its canonical
/// name, from the hosts file or DNS), when that has a dot and is no address;
/// empty otherwise.
[[nodiscard]] std::string FullyQualifiedName(const std::string& Name);

}  // namespace tandrel::net
