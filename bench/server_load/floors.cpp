// Floors of the load tool (see floors.h).
#include "floors.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace load {

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A connected pair of loopback TCP sockets; closed with the object.
struct LoopbackPair {
    int client = -1, server = -1;
    LoopbackPair() {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
        server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~LoopbackPair() {
        ::close(client);
        ::close(server);
    }
    bool Ok() const { return client >= 0 && server >= 0; }
};

} // namespace

double HashSeconds(std::uint64_t passes, std::uint64_t memoryKiB, int repetitions) {
    if (sodium_init() < 0)
        return 0;
    std::vector<double> times;
    char out[crypto_pwhash_STRBYTES];
    for (int i = 0; i < repetitions; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (crypto_pwhash_str_alg(out, "load-password", 13, passes, memoryKiB * 1024,
                                  crypto_pwhash_ALG_ARGON2ID13) != 0)
            return 0;
        times.push_back(Since(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double HashesPerSecond(std::uint64_t passes, std::uint64_t memoryKiB, unsigned threads,
                       int hashesEach) {
    if (sodium_init() < 0)
        return 0;
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> hashers;
    std::atomic<int> done{0};
    for (unsigned t = 0; t < threads; ++t)
        hashers.emplace_back([=, &done] {
            char out[crypto_pwhash_STRBYTES];
            for (int i = 0; i < hashesEach; ++i)
                if (crypto_pwhash_str_alg(out, "load-password", 13, passes, memoryKiB * 1024,
                                          crypto_pwhash_ALG_ARGON2ID13) == 0)
                    ++done;
        });
    for (auto& hasher : hashers)
        hasher.join();
    return done / Since(start);
}

std::vector<double> LoopbackRoundTrips(int count) {
    std::vector<double> trips;
    LoopbackPair pair;
    if (!pair.Ok())
        return trips;
    std::thread echo([&] {
        char byte;
        while (::recv(pair.server, &byte, 1, 0) == 1)
            if (::send(pair.server, &byte, 1, 0) != 1)
                break;
    });
    for (int i = 0; i < count; ++i) {
        char byte = 'x';
        auto start = std::chrono::steady_clock::now();
        if (::send(pair.client, &byte, 1, 0) != 1 || ::recv(pair.client, &byte, 1, 0) != 1)
            break;
        trips.push_back(Since(start));
    }
    ::shutdown(pair.client, SHUT_WR);
    echo.join();
    return trips;
}

double LoopbackCopySeconds(std::size_t bytes) {
    LoopbackPair pair;
    if (!pair.Ok())
        return 0;
    std::string chunk(64 * 1024, 'd');
    auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        std::string buffer(64 * 1024, '\0');
        std::size_t got = 0;
        while (got < bytes) {
            ssize_t n = ::recv(pair.server, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    });
    for (std::size_t sent = 0; sent < bytes;) {
        std::size_t n = std::min(chunk.size(), bytes - sent);
        ssize_t wrote = ::send(pair.client, chunk.data(), n, 0);
        if (wrote <= 0)
            break;
        sent += static_cast<std::size_t>(wrote);
    }
    reader.join();
    return Since(start);
}

double DurableWriteSeconds(int count, std::size_t bytes, const std::string& folder) {
    std::string data(bytes, 'f');
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        std::string temporary = folder + "/.part-" + std::to_string(i);
        std::string final = folder + "/data-" + std::to_string(i);
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
        if (fd < 0)
            return 0;
        bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
                  ::fsync(fd) == 0;
        ::close(fd);
        if (!ok || ::rename(temporary.c_str(), final.c_str()) != 0)
            return 0;
        int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    double seconds = Since(start);
    for (int i = 0; i < count; ++i)
        ::unlink((folder + "/data-" + std::to_string(i)).c_str());
    return seconds;
}

} // namespace load
