// Sends a number of megabytes through one TTCPBlockSocket, plain or TLS, to a
// sink on loopback and prints how long the transfer took.
//   net_bench <port> <plain|tls> <megabytes>
// Exit code 0 when every byte was handed to the socket without error.

#include "net/TCPBlockSocket.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: net_bench <port> <plain|tls> <megabytes>\n");
        return 2;
    }
    const std::string port = argv[1];
    const bool tls = std::string(argv[2]) == "tls";
    const long megabytes = std::strtol(argv[3], nullptr, 10);

    tandrel::net::TTCPBlockSocket sock;
    sock.Connect("127.0.0.1", port);
    if (sock.LastError() == 0 && tls) sock.SSLDoConnect();
    if (sock.LastError() != 0) {
        std::fprintf(stderr, "connect: %d %s\n", sock.LastError(), sock.LastErrorDesc().c_str());
        return 1;
    }

    // One megabyte handed over per call; the socket cuts it into its own pieces.
    const std::string block(1 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < megabytes; ++i) {
        const int sent = sock.SendBuffer(block.data(), static_cast<int>(block.size()));
        if (sent != static_cast<int>(block.size()) || sock.LastError() != 0) {
            std::fprintf(stderr, "send: %d %s after %ld MB\n", sock.LastError(), sock.LastErrorDesc().c_str(),
                         i);
            return 1;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    sock.CloseSocket();
    std::printf("%.1f MB/s (%ld MB in %.3f s, in-process)\n", megabytes / took.count(), megabytes,
                took.count());
    return 0;
}
