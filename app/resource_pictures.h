// The program's pictures as the bytes of their BMP files, embedded at build time from
// app/resources/*.bmp.
#pragma once

#include <cstddef>

struct ResourcePicture {
  const char* name;  // the file's name, e.g. "bitmap118.bmp"
  const unsigned char* bytes;
  size_t size;
};

extern const ResourcePicture kResourcePictures[];
extern const size_t kResourcePictureCount;
