// The gallery's files: snapshots as stored, their thumbnails, an event's ZIP and the assets.
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>

#include "server/disk.h"
#include "server/log.h"
#include "server/web/event_zip.h"
#include "server/web/gallery.h"
#include "server/web/gallery_queries.h"
#include "server/web/thumbnails.h"
#include "server/web/web_assets.h"
#include "server/web/web_responses.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

// An open file as the body of a response; nothing when it cannot be opened.
std::optional<WebResponse> FileResponse(const fs::path& file, const std::string& type) {
  OwnedFile fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  WebResponse response;
  response.contentType = type;
  response.file = std::move(fd);
  response.fileSize = static_cast<uint64_t>(status.st_size);
  return response;
}

// Pictures may be kept by the browser, never by a shared cache, and are checked again
// before each use: an id freed by a deletion can come back with another picture.
void PrivatePicture(WebResponse& response, const std::string& tag) {
  response.fields.emplace_back("Cache-Control", "private, no-cache");
  response.fields.emplace_back("ETag", tag);
}

std::optional<WebResponse> NotModified(const WebRequest& request, const std::string& tag) {
  if (request.ifNoneMatch != tag) return std::nullopt;
  WebResponse response;
  response.status = 304;
  PrivatePicture(response, tag);
  return response;
}

std::string RandomName(const std::string& prefix, const std::string& suffix) {
  unsigned char random[12];
  randombytes_buf(random, sizeof random);
  char hex[2 * sizeof random + 1];
  sodium_bin2hex(hex, sizeof hex, random, sizeof random);
  return prefix + hex + suffix;
}

}  // namespace

WebResponse AssetResponse(std::string_view name) {
  const WebAsset* asset = FindAsset(name);
  if (!asset) return TextResponse(404, "No such file.");
  WebResponse response;
  response.contentType = std::string(asset->type);
  response.body = std::string(asset->data);
  // Pages name assets with their digest, so a changed asset has a new address.
  response.fields.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
  return response;
}

WebResponse Gallery::Snapshot(const WebRequest& request, Database& db, const std::string& user,
                              int64_t id) {
  const auto snapshot = FindOwnSnapshot(db, user, id);
  if (!snapshot || !IsSnapshotPath(snapshot->file)) return TextResponse(404, "No such snapshot.");
  const std::string tag = "\"" + snapshot->sha256 + "\"";
  if (auto same = NotModified(request, tag)) return std::move(*same);
  auto response = FileResponse(services_.dataDir / snapshot->file, "image/jpeg");
  if (!response) return TextResponse(404, "No such snapshot.");
  PrivatePicture(*response, tag);
  response->fields.emplace_back(
      "Content-Disposition",
      "inline; filename=\"" + fs::path(snapshot->file).filename().string() + "\"");
  return std::move(*response);
}

WebResponse Gallery::Thumbnail(const WebRequest& request, Database& db, const std::string& user,
                               int64_t id) {
  const auto snapshot = FindOwnSnapshot(db, user, id);
  if (!snapshot) return TextResponse(404, "No such snapshot.");
  const std::string tag = "\"thumbnail-" + snapshot->sha256 + "\"";
  if (auto same = NotModified(request, tag)) return std::move(*same);
  bool made = false;
  const auto file = CachedThumbnail(services_.dataDir, snapshot->file, services_.scratch, made);
  // A thumbnail made while its snapshot was being deleted must not outlive it: the deletion
  // removes the thumbnails after its commit, so a row still here now means it will go.
  if (file && made && !FindOwnSnapshot(db, user, id)) {
    ::unlink(file->c_str());
    return TextResponse(404, "No such snapshot.");
  }
  std::optional<WebResponse> response;
  if (file) response = FileResponse(*file, "image/jpeg");
  if (!response) {
    // Not a picture this server can read: a picture that says so.
    response = AssetResponse("no-picture.svg");
    response->fields.clear();
  }
  PrivatePicture(*response, tag);
  return std::move(*response);
}

WebResponse Gallery::Zip(Database& db, const std::string& user, int64_t id) {
  const auto event = FindOwnEvent(db, user, id);
  if (!event) return TextResponse(404, "No such event.");
  const auto snapshots = OwnEventSnapshots(db, user, id, 0, INT64_MAX);
  if (snapshots.empty()) return TextResponse(404, "No such event.");
  const std::size_t width = std::max<std::size_t>(4, std::to_string(snapshots.size()).size());
  std::vector<ZipEntry> entries;
  for (std::size_t i = 0; i < snapshots.size(); ++i) {
    if (!IsSnapshotPath(snapshots[i].file)) continue;
    std::string number = std::to_string(i + 1);
    number.insert(0, width - number.size(), '0');
    entries.push_back({number + "-" + fs::path(snapshots[i].file).filename().string(),
                       services_.dataDir / snapshots[i].file,
                       ParseTime(snapshots[i].time).value_or(TimePoint{})});
  }
  const fs::path archive =
      services_.scratch / RandomName("event-" + std::to_string(id) + "-", ".zip");
  std::string error;
  if (!WriteZip(archive, entries, error)) {
    WriteLog(services_.log, "web user=" + EscapeForLog(user) + " event=" + std::to_string(id) +
                                " ZIP failed: " + error);
    return TextResponse(500, "The ZIP file could not be made; try again.");
  }
  auto response = FileResponse(archive, "application/zip");
  // Open, the file's data stays until the response is sent; its name goes now.
  ::unlink(archive.c_str());
  if (!response) return TextResponse(500, "The ZIP file could not be made; try again.");
  response->fields.emplace_back("Cache-Control", "private, no-store");
  response->fields.emplace_back("Content-Disposition", "attachment; filename=\"corvantis-event-" +
                                                           std::to_string(id) + ".zip\"");
  return std::move(*response);
}

}  // namespace corvantis::server
