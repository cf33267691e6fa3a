#include "server/web/thumbnails.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <cstdio>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <vector>

#include "server/data_dir.h"
#include "server/disk.h"

namespace corvantis::server {

namespace fs = std::filesystem;

namespace {

constexpr JDIMENSION kMaxSide = 8192;               // pixels of a snapshot's side, at most
constexpr uint64_t kMaxPixels = 40u * 1000 * 1000;  // pixels of a snapshot, at most
constexpr long kMaxDecoderMemory = 256L << 20;      // bytes the decoder may take
constexpr int kMaxScans = 64;                       // progressive scans, at most
constexpr int kQuality = 80;

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps
// back to the setjmp of the call that was decoding.
struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

void StayQuiet(j_common_ptr, int) {}

// Ends decoding of a file with absurdly many progressive scans (each one a pass over the
// whole picture), a known way to make a small file cost minutes.
void LimitScans(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) JumpBack(info);
}

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // rows top first, 3 bytes a pixel
};

// Decodes `jpeg` at the smallest of libjpeg-turbo's scales (M/8) that is still at least
// `width` wide.
bool DecodeScaled(std::string_view jpeg, int width, Picture& picture) {
  jpeg_decompress_struct info{};
  ErrorJump error{};
  jpeg_progress_mgr progress{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpBack;
  error.manager.emit_message = StayQuiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  info.mem->max_memory_to_use = kMaxDecoderMemory;
  progress.progress_monitor = LimitScans;
  info.progress = &progress;
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()),
               static_cast<unsigned long>(jpeg.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width > kMaxSide ||
      info.image_height > kMaxSide || uint64_t{info.image_width} * info.image_height > kMaxPixels) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_RGB;
  info.scale_denom = 8;
  info.scale_num = 16;
  for (unsigned num = 1; num <= 16; ++num) {
    if ((uint64_t{info.image_width} * num + 7) / 8 >= static_cast<uint64_t>(width)) {
      info.scale_num = num;
      break;
    }
  }
  if (info.image_width <= static_cast<JDIMENSION>(width)) info.scale_num = 8;
  jpeg_start_decompress(&info);
  picture.width = static_cast<int>(info.output_width);
  picture.height = static_cast<int>(info.output_height);
  const std::size_t stride = std::size_t{info.output_width} * 3;
  picture.rgb.assign(stride * info.output_height, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.rgb.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture.width > 0 && picture.height > 0;
}

// Shrinks `source` to `width` x `height` by area averaging: each target pixel is the mean of
// the source area it covers, parts of pixels weighed by how much of them it covers.
Picture Shrink(const Picture& source, int width, int height) {
  // Per target column (or row), the source pixels it covers and their weights.
  struct Span {
    int first;
    std::vector<float> weights;
  };
  auto spans = [](int from, int to) {
    std::vector<Span> result(static_cast<std::size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
      const double begin = i * step, end = (i + 1) * step;
      Span& span = result[static_cast<std::size_t>(i)];
      span.first = static_cast<int>(begin);
      for (int s = span.first; s < from && s < end; ++s) {
        const double covered = std::min<double>(end, s + 1) - std::max<double>(begin, s);
        span.weights.push_back(static_cast<float>(covered / step));
      }
    }
    return result;
  };
  const auto columns = spans(source.width, width), rows = spans(source.height, height);
  Picture target;
  target.width = width;
  target.height = height;
  target.rgb.resize(std::size_t(width) * height * 3);
  std::vector<float> line(std::size_t(width) * 3);
  const std::size_t stride = std::size_t(source.width) * 3;
  for (int y = 0; y < height; ++y) {
    std::fill(line.begin(), line.end(), 0.0f);
    const Span& row = rows[static_cast<std::size_t>(y)];
    for (std::size_t r = 0; r < row.weights.size(); ++r) {
      const unsigned char* in = source.rgb.data() + stride * std::size_t(row.first + int(r));
      for (int x = 0; x < width; ++x) {
        const Span& column = columns[static_cast<std::size_t>(x)];
        for (std::size_t c = 0; c < column.weights.size(); ++c) {
          const float weight = row.weights[r] * column.weights[c];
          const unsigned char* pixel = in + std::size_t(column.first + int(c)) * 3;
          for (int channel = 0; channel < 3; ++channel) {
            line[std::size_t(x) * 3 + std::size_t(channel)] += weight * pixel[channel];
          }
        }
      }
    }
    unsigned char* out = target.rgb.data() + std::size_t(y) * width * 3;
    for (std::size_t i = 0; i < line.size(); ++i) {
      out[i] = static_cast<unsigned char>(std::clamp(line[i] + 0.5f, 0.0f, 255.0f));
    }
  }
  return target;
}

std::optional<std::string> Encode(const Picture& picture) {
  jpeg_compress_struct info{};
  ErrorJump error{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpBack;
  error.manager.emit_message = StayQuiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return std::nullopt;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(picture.width);
  info.image_height = static_cast<JDIMENSION>(picture.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const std::size_t stride = std::size_t(picture.width) * 3;
  while (info.next_scanline < info.image_height) {
    auto* row = const_cast<JSAMPROW>(picture.rgb.data() + stride * info.next_scanline);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string jpeg(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return jpeg;
}

// A cached thumbnail is whole when it ends with the JPEG end marker; a crash while it was
// renamed into place could leave it empty or cut short.
bool Whole(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  unsigned char end[2] = {0, 0};
  const bool whole = ::fstat(fd, &status) == 0 && status.st_size > 2 &&
                     ::pread(fd, end, 2, status.st_size - 2) == 2 && end[0] == 0xFF &&
                     end[1] == 0xD9;
  ::close(fd);
  return whole;
}

}  // namespace

std::optional<std::string> MakeThumbnail(std::string_view jpeg) {
  Picture decoded;
  if (!DecodeScaled(jpeg, kThumbnailWidth, decoded)) return std::nullopt;
  if (decoded.width <= kThumbnailWidth) return Encode(decoded);
  const int height =
      std::max(1, static_cast<int>((int64_t{decoded.height} * kThumbnailWidth + decoded.width / 2) /
                                   decoded.width));
  return Encode(Shrink(decoded, kThumbnailWidth, height));
}

std::optional<fs::path> CachedThumbnail(const fs::path& dataDir, const fs::path& snapshot,
                                        const fs::path& scratch, bool& made) {
  made = false;
  if (!IsSnapshotPath(snapshot)) return std::nullopt;
  const fs::path cached = dataDir / ThumbnailFile(snapshot);
  if (Whole(cached)) return cached;
  const auto jpeg = ReadWholeFile(dataDir / snapshot);
  if (!jpeg) return std::nullopt;
  const auto thumbnail = MakeThumbnail(*jpeg);
  if (!thumbnail) return std::nullopt;
  ::mkdir((dataDir / "thumbnails").c_str(), 0700);
  ::mkdir(cached.parent_path().c_str(), 0700);
  unsigned char random[12];
  randombytes_buf(random, sizeof random);
  char name[2 * sizeof random + 1];
  sodium_bin2hex(name, sizeof name, random, sizeof random);
  const fs::path temporary = scratch / (std::string("thumbnail-") + name);
  if (!WriteNewFile(temporary, *thumbnail, false) ||
      ::rename(temporary.c_str(), cached.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  made = true;
  return cached;
}

}  // namespace corvantis::server
