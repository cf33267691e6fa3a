// The style sheet, script and pictures of the web gallery, compiled into the program from
// server/web/assets/ (embed_assets.cmake): the server reads no file to serve them and the
// pages load nothing from anywhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvantis::server {

struct WebAsset {
  std::string_view name;    // "style.css"
  std::string_view type;    // its Content-Type
  std::string_view digest;  // 16 hex digits of its SHA-256
  std::string_view data;
};

extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

// The asset called `name`, or nullptr.
const WebAsset* FindAsset(std::string_view name);

// The address pages use for an asset: "/assets/style.css?v=<digest>". It changes whenever
// the file does, so browsers may keep an asset for as long as they like.
std::string AssetUrl(std::string_view name);

}  // namespace corvantis::server
