// Motion to acknowledgement: the time from a triggering 640 x 480 frame handed to
// HandleFrame until the upload exchange has the alarm server's reply to "QUIT" (detection,
// the JPEG snapshot, the login lines, the header, the body and the closing command), against
// the real corvantis-server on loopback. Run with TCP_NODELAY on the client's socket (the
// program's setting) and without it, to show the stall that the small sends of the exchange
// pay when the kernel holds a piece back until the previous one is acknowledged.
// The server keeps its data in memory (/dev/shm) or on the disk of the temporary directory:
// it acknowledges a body only once it is synced, so on disk the sync's latency is part of
// the figure. "median_ms" is the median over the iterations of one run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "detect/alarm_state.h"
#include "detect/frame_handler.h"
#include "detect/motion_detector.h"
#include "net/login_exchange.h"
#include "net/server_link.h"
#include "platform/sockets_testing.h"
#include "snapshot/snapshot_writer.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/server_process.h"
#include "tests/support/striped_frame.h"

namespace {

constexpr char kHostName[] = "alarm-server.bench";

// The server program beside this one in the build directory.
std::string ServerBinary() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : (self.parent_path() / "corvantis-server").string();
}

// A running server with one account, logged in, and two frames that are motion for each
// other; made once for the whole run.
struct UploadRig {
  testsupport::ScratchDirectory scratch;
  std::string address;
  std::unique_ptr<testsupport::ServerProcess> server;
  HGLOBAL frames[2] = {nullptr, nullptr};
  std::string problem;

  UploadRig(const std::filesystem::path& base, const std::string& serverAddress)
      : scratch(base), address(serverAddress) {
    if (scratch.path().empty()) {
      problem = "no scratch directory under " + base.string();
      return;
    }
    std::string binary = ServerBinary();
    if (binary.empty() || !std::filesystem::exists(binary)) {
      problem = "corvantis-server is not built beside the benchmarks";
      return;
    }
    std::string data = (scratch.path() / "server-data").string();
    if (testsupport::RunProgram(
            {binary, "--data", data, "user", "add", "watcher", "--hash-cost", "min"},
            "s3cret-pw\n") != 0) {
      problem = "cannot add the account";
      return;
    }
    server = std::make_unique<testsupport::ServerProcess>(binary, data, address + ":1100",
                                                          (scratch.path() / "server.log").string());
    if (!server->Ready()) {
      problem = "the server did not start: " + server->FirstLine();
      return;
    }
    frames[0] = testsupport::StripedFrame(false, 640, 480);
    frames[1] = testsupport::StripedFrame(true, 640, 480);
  }

  // Logs in to this rig's server and makes frames[0] the reference; gives false (with the
  // problem) when the login is refused.
  bool Arm() {
    std::strcpy(serverHostName, kHostName);
    SetTestHostAddress(kHostName, address.c_str());
    std::string reply = LoginExchange("watcher\n", "s3cret-pw\n");
    if (reply.rfind("200", 0) != 0) {
      problem = "login refused: " + reply;
      return false;
    }
    videoWidth = 640;
    videoHeight = 480;
    ResetDetector();
    AlarmState.testing = 0;
    AlarmState.frameCounter = 60;
    HandleFrame(frames[0]);
    return true;
  }
};

// The rig whose server keeps its data in memory (0) or on disk (1), made on first use.
UploadRig& Rig(int onDisk) {
  static UploadRig inMemory("/dev/shm", "127.83.7.1");
  static UploadRig onDiskRig({}, "127.83.7.2");
  return onDisk ? onDiskRig : inMemory;
}

void BM_MotionToAcknowledgement(benchmark::State& state) {
  UploadRig& rig = Rig(static_cast<int>(state.range(1)));
  if (!rig.problem.empty() || !rig.Arm()) {
    state.SkipWithError(rig.problem.c_str());
    return;
  }
  serverNoDelay = static_cast<int32_t>(state.range(0));
  std::filesystem::current_path(rig.scratch.path());
  std::vector<double> millis;
  int next = 1;
  for (auto _ : state) {
    ServerReply[0] = '\0';
    auto start = std::chrono::steady_clock::now();
    HandleFrame(rig.frames[next]);
    auto end = std::chrono::steady_clock::now();
    next ^= 1;
    double seconds = std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(seconds);
    millis.push_back(seconds * 1000);
    if (AlarmState.motionDetected != 1 || std::strncmp(ServerReply, "221", 3) != 0) {
      state.SkipWithError("the frame was not uploaded to its end");
      break;
    }
  }
  serverNoDelay = 1;
  if (millis.empty()) return;
  std::sort(millis.begin(), millis.end());
  state.counters["median_ms"] = millis[millis.size() / 2];
  state.counters["snapshot_bytes"] =
      static_cast<double>(std::filesystem::file_size(kSnapshotFileName));
}

BENCHMARK(BM_MotionToAcknowledgement)
    ->ArgNames({"nodelay", "disk"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

}  // namespace
