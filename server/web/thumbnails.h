// Thumbnails of snapshots for the gallery's lists: 240 pixels wide, made with libjpeg-turbo's
// scaled decoding (the decoder does most of the shrinking for free in its inverse DCT; an
// area average takes it the rest of the way), and cached on disk beside the snapshots
// (data_dir.h: thumbnails/), remade whenever the cached file is missing or cut short.
//
// Snapshots are whatever a camera sent: the decoder reads them with limits on their size,
// memory and progressive scans, and a failure is an answer (nothing), never a crash.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvantis::server {

constexpr int kThumbnailWidth = 240;

// A JPEG kThumbnailWidth pixels wide (or the picture's own width when it is narrower) of
// the JPEG `jpeg`, its height in proportion; nothing when `jpeg` is not a picture this reads.
std::optional<std::string> MakeThumbnail(std::string_view jpeg);

// The cached thumbnail of `snapshot` (relative to the data directory, a snapshot path the
// database gave): its absolute path, made now when missing or damaged, written under
// `scratch` first and renamed into place. Nothing when the snapshot cannot be read or is no
// picture. `made` tells whether it was made by this call.
std::optional<std::filesystem::path> CachedThumbnail(const std::filesystem::path& dataDir,
                                                     const std::filesystem::path& snapshot,
                                                     const std::filesystem::path& scratch,
                                                     bool& made);

}  // namespace corvantis::server
