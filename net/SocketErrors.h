#pragma once
// Socket error numbers (Windows Sockets numbering), their texts, the mapping of
// Linux errno and getaddrinfo codes onto them, and the exception raised on
// request.

#include <stdexcept>
#include <string>

namespace tandrel::net {

// Numbers the socket layer sets or tests by name.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
/// The peer closed the connection cleanly ("Disconnect"); a reset stays 10054.
inline constexpr int WSAEDISCON = 10101;
inline constexpr int WSATYPE_NOT_FOUND = 10109;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

/// Number given to an errno value the table does not know: this base plus the
/// errno value, a range no table text covers ("Other Winsock error (N)").
inline constexpr int UnmappedErrnoBase = 20000;

/// Winsock number for a Linux errno value (0 stays 0); unknown values give
/// UnmappedErrnoBase + value.
[[nodiscard]] int ErrorFromErrno(int Errno) noexcept;

/// Winsock number for a getaddrinfo/getnameinfo result (0 stays 0); EAI_SYSTEM
/// is mapped through the errno value passed beside it.
[[nodiscard]] int ErrorFromGai(int GaiCode, int Errno) noexcept;

/// Text for an error number: empty for 0, the table's text for a known number,
/// "Other Winsock error (N)" for any other.
[[nodiscard]] std::string GetErrorDesc(int ErrorCode);

/// "TCP/IP Socket error N: text", the message of a socket error.
[[nodiscard]] std::string SocketErrorMessage(int ErrorCode, const std::string& ErrorMessage);

/// Raised by a socket only when its RaiseExcept is set; what() is
/// SocketErrorMessage.
class ESocketError : public std::runtime_error {
public:
    ESocketError(int ErrorCode, const std::string& ErrorMessage);
    /// Builds the exception with a message of its own (start-up failures).
    ESocketError(const std::string& Message, int ErrorCode, const std::string& ErrorMessage);
    [[nodiscard]] int ErrorCode() const noexcept { return FErrorCode; }
    [[nodiscard]] const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

private:
    int FErrorCode;
    std::string FErrorMessage;
};

}  // namespace tandrel::net
