// corvantis-resource-script DIR: writes the program's resources as DIR/corvantis.rc and the
// files the script names, for the Windows build.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/resource_script.h"
#include "app/resources.h"

namespace {

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvantis-resource-script DIR\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::vector<ResourceScriptFile> files;
  if (!ResourceScriptFiles(*ProgramResources(), &files)) {
    std::fprintf(stderr, "corvantis-resource-script: a picture is no usable BMP file\n");
    return 1;
  }
  bool written = WriteFile(folder / "corvantis.rc", ResourceScript(*ProgramResources()));
  for (const ResourceScriptFile& file : files) {
    written =
        WriteFile(folder / file.name, std::string(file.bytes.begin(), file.bytes.end())) && written;
  }
  if (!written) {
    std::fprintf(stderr, "corvantis-resource-script: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
