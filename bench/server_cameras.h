// What the server benchmarks share: the cameras that upload, the snapshots they send and
// the checks of what was stored.
#pragma once

#include "server/asio.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvantis::server_bench {

using Clock = std::chrono::steady_clock;

constexpr int kCameras = 200;
constexpr std::size_t kSnapshotSize = 40 * 1024;

// What the cameras of one run did. Written by the one thread that runs their loop.
struct Totals {
  std::vector<double> millis;                                          // time of each stored upload
  std::map<std::string, std::pair<int, uint64_t>> stored;              // file -> camera, upload
  std::map<std::pair<int, uint64_t>, Clock::time_point> acknowledged;  // when its 250 came
  int failures = 0;
};

// The snapshot a camera sends as its n-th upload: random bytes of the camera's own, the
// first of them replaced by the camera's number and the upload's, so every snapshot differs
// and a mix-up between uploads shows in the check.
std::string Snapshot(int camera, uint64_t n);
// The camera and upload number a snapshot carries.
std::pair<int, uint64_t> SnapshotOrigin(std::string_view body);

// Starts camera `id` on `io`: it logs in as `user` and uploads until the deadline, one
// connection per upload, sending bodies in pieces of `chunk` bytes.
void StartCamera(asio::io_context& io, asio::ip::tcp::endpoint server, int id, std::string user,
                 std::string password, std::size_t chunk, Clock::time_point deadline,
                 Totals& totals);

// Uploads whose row and file both carry the SHA-256 of what the camera sent.
int CountIntact(const std::filesystem::path& dataDir,
                const std::map<std::string, std::pair<int, uint64_t>>& sent);

double Percentile(std::vector<double> values, double p);

}  // namespace corvantis::server_bench
