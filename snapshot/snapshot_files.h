// The file calls of the snapshot writer, behind a table so that a test can make creating or
// closing the snapshot fail. The program keeps the C library's functions.
#pragma once

#include <cstdio>

struct SnapshotFileCalls {
  FILE* (*open)(const char* name, const char* mode);
  int (*close)(FILE* stream);
  int (*remove)(const char* name);
};
extern SnapshotFileCalls snapshotFileCalls;
