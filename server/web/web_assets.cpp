#include "server/web/web_assets.h"

namespace corvantis::server {

const WebAsset* FindAsset(std::string_view name) {
  for (std::size_t i = 0; i < kWebAssetCount; ++i) {
    if (kWebAssets[i].name == name) return &kWebAssets[i];
  }
  return nullptr;
}

std::string AssetUrl(std::string_view name) {
  const WebAsset* asset = FindAsset(name);
  return "/assets/" + std::string(name) + (asset ? "?v=" + std::string(asset->digest) : "");
}

}  // namespace corvantis::server
