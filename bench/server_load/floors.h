// The least the load tool's work can cost on this machine, measured in the same run, to hold
// its figures against: one password hash at the server's cost, a round trip over loopback
// TCP, and a plain loopback TCP copy of the same file bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace load {

// Seconds one argon2id hash takes at these parameters (the median of a few).
double HashSeconds(std::uint64_t passes, std::uint64_t memoryKiB, int repetitions = 5);

// Hashes per second with `threads` threads hashing at once, as the server's workers do.
double HashesPerSecond(std::uint64_t passes, std::uint64_t memoryKiB, unsigned threads,
                       int hashesEach = 4);

// Round trips of one byte over a loopback TCP connection, in seconds.
std::vector<double> LoopbackRoundTrips(int count);

// Seconds to copy `bytes` through one plain loopback TCP connection.
double LoopbackCopySeconds(std::size_t bytes);

// Seconds to write `count` files of `bytes` each durably into `folder`, as the server keeps a
// received file: write, flush to disk, rename, flush the folder.
double DurableWriteSeconds(int count, std::size_t bytes, const std::string& folder);

} // namespace load
