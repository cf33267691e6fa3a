#include "server/web/event_zip.h"

#include <zip.h>

namespace corvantis::server {

bool WriteZip(const std::filesystem::path& archive, const std::vector<ZipEntry>& entries,
              std::string& error) {
  int code = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
  if (!zip) {
    zip_error_t details;
    zip_error_init_with_code(&details, code);
    error = zip_error_strerror(&details);
    zip_error_fini(&details);
    return false;
  }
  auto fail = [&] {
    error = zip_strerror(zip);
    zip_discard(zip);
    std::error_code ignored;
    std::filesystem::remove(archive, ignored);
    return false;
  };
  for (const ZipEntry& entry : entries) {
    zip_source_t* source = zip_source_file(zip, entry.file.c_str(), 0, -1);
    if (!source) return fail();
    const zip_int64_t index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return fail();
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(entry.time.time_since_epoch());
    if (zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0 ||
        zip_file_set_mtime(zip, static_cast<zip_uint64_t>(index),
                           static_cast<time_t>(seconds.count()), 0) != 0) {
      return fail();
    }
  }
  if (zip_close(zip) != 0) return fail();
  return true;
}

}  // namespace corvantis::server
