#include "net/SocketErrors.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>

namespace tandrel::net {
namespace {

struct TErrnoCase {
    const char* Name;
    int Errno;
    int Code;
};

class ErrnoMappingTest : public ::testing::TestWithParam<TErrnoCase> {};

TEST_P(ErrnoMappingTest, MapsOntoWinsockNumbers) {
    EXPECT_EQ(ErrorFromErrno(GetParam().Errno), GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrnoMappingTest,
    ::testing::Values(TErrnoCase{"None", 0, 0}, TErrnoCase{"ECONNREFUSED", ECONNREFUSED, 10061},
                      TErrnoCase{"ETIMEDOUT", ETIMEDOUT, 10060}, TErrnoCase{"ECONNRESET", ECONNRESET, 10054},
                      TErrnoCase{"EPIPE", EPIPE, 10054}, TErrnoCase{"EHOSTUNREACH", EHOSTUNREACH, 10065},
                      TErrnoCase{"ENETUNREACH", ENETUNREACH, 10051},
                      TErrnoCase{"EADDRINUSE", EADDRINUSE, 10048},
                      TErrnoCase{"EADDRNOTAVAIL", EADDRNOTAVAIL, 10049}, TErrnoCase{"EAGAIN", EAGAIN, 10035},
                      TErrnoCase{"EWOULDBLOCK", EWOULDBLOCK, 10035},
                      TErrnoCase{"EINPROGRESS", EINPROGRESS, 10036}, TErrnoCase{"EALREADY", EALREADY, 10037},
                      TErrnoCase{"ENOTSOCK", ENOTSOCK, 10038}, TErrnoCase{"EINTR", EINTR, 10004},
                      TErrnoCase{"EBADF", EBADF, 10009}, TErrnoCase{"EACCES", EACCES, 10013},
                      TErrnoCase{"EFAULT", EFAULT, 10014}, TErrnoCase{"EINVAL", EINVAL, 10022},
                      TErrnoCase{"EMFILE", EMFILE, 10024}, TErrnoCase{"EMSGSIZE", EMSGSIZE, 10040},
                      TErrnoCase{"EAFNOSUPPORT", EAFNOSUPPORT, 10047}, TErrnoCase{"ENOBUFS", ENOBUFS, 10055},
                      TErrnoCase{"EISCONN", EISCONN, 10056}, TErrnoCase{"ENOTCONN", ENOTCONN, 10057},
                      TErrnoCase{"ESHUTDOWN", ESHUTDOWN, 10058},
                      TErrnoCase{"ECONNABORTED", ECONNABORTED, 10053},
                      TErrnoCase{"ENETDOWN", ENETDOWN, 10050}, TErrnoCase{"EHOSTDOWN", EHOSTDOWN, 10064},
                      TErrnoCase{"UnmappedENOENT", ENOENT, UnmappedErrnoBase + ENOENT}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class GaiMappingTest : public ::testing::TestWithParam<TErrnoCase> {};

TEST_P(GaiMappingTest, MapsOntoWinsockNumbers) {
    EXPECT_EQ(ErrorFromGai(GetParam().Errno, ECONNREFUSED), GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(Table, GaiMappingTest,
                         ::testing::Values(TErrnoCase{"Success", 0, 0},
                                           TErrnoCase{"EAI_NONAME", EAI_NONAME, 11001},
                                           TErrnoCase{"EAI_AGAIN", EAI_AGAIN, 11002},
                                           TErrnoCase{"EAI_FAIL", EAI_FAIL, 11003},
                                           TErrnoCase{"EAI_NODATA", EAI_NODATA, 11004},
                                           TErrnoCase{"EAI_SERVICE", EAI_SERVICE, 10109},
                                           TErrnoCase{"EAI_FAMILY", EAI_FAMILY, 10047},
                                           TErrnoCase{"EAI_SYSTEMUsesErrno", EAI_SYSTEM, 10061}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct TTextCase {
    int Code;
    const char* Text;
};

class ErrorTextTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(ErrorTextTest, GivesTheTableText) { EXPECT_EQ(GetErrorDesc(GetParam().Code), GetParam().Text); }

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorTextTest,
    ::testing::Values(
        TTextCase{0, ""}, TTextCase{10004, "Interrupted system call"},
        TTextCase{10035, "Operation would block"}, TTextCase{10049, "Can't assign requested address"},
        TTextCase{10053, "Software caused connection abort"}, TTextCase{10054, "Connection reset by peer"},
        TTextCase{10055, "No Buffer space available"}, TTextCase{10059, "Too many references:can't splice"},
        TTextCase{10060, "Connection timed out"}, TTextCase{10061, "Connection refused"},
        TTextCase{10071, "Too many levels of remote in path"},
        TTextCase{10091, "Network subsystem is unusable"},
        TTextCase{10092, "Winsock DLL cannot support this application"}, TTextCase{10101, "Disconnect"},
        TTextCase{11001, "Host not found"}, TTextCase{11002, "Non authoritative - host not found"},
        TTextCase{11003, "Non recoverable error"},
        TTextCase{11004, "Valid name, no data record of requested type"},
        TTextCase{10109, "Other Winsock error (10109)"}, TTextCase{12345, "Other Winsock error (12345)"},
        TTextCase{-1, "Other Winsock error (-1)"}),
    [](const auto& Info) {
        return Info.param.Code < 0 ? std::string("Minus1") : "Code" + std::to_string(Info.param.Code);
    });

TEST(SocketErrors, EveryMappedErrnoHasATableText) {
    for (int errorNumber = 1; errorNumber < 150; ++errorNumber) {
        const int code = ErrorFromErrno(errorNumber);
        if (code < UnmappedErrnoBase) {
            EXPECT_EQ(GetErrorDesc(code).rfind("Other Winsock error", 0), std::string::npos) << errorNumber;
        }
    }
}

TEST(SocketErrors, ExceptionCarriesNumberAndText) {
    const ESocketError error(10054, "Connection reset by peer");
    EXPECT_STREQ(error.what(), "TCP/IP Socket error 10054: Connection reset by peer");
    EXPECT_EQ(error.ErrorCode(), 10054);
    EXPECT_EQ(error.ErrorMessage(), "Connection reset by peer");
}

}  // namespace
}  // namespace tandrel::net
