// The JPEG snapshot writer: the frame that triggered the alarm, as a baseline JPEG file.
#pragma once

#include <atomic>
#include <cstdint>

// The snapshot's file name in the working directory; the upload reads the same file.
inline constexpr char kSnapshotFileName[] = "Temp.jpeg";

// The picture size the writer compresses: 320 x 240 until the camera reports another.
extern std::atomic<int32_t> videoWidth;
extern std::atomic<int32_t> videoHeight;

// Writes the locked 24-bit packed bitmap `frame` to "Temp.jpeg" at the given quality and
// closes the file before returning; gives 1. An error inside the JPEG library ends the
// process with exit status 1.
int WriteSnapshot(const unsigned char* frame, int quality);
