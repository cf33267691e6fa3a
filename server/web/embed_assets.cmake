# Writes OUTPUT, a C++ source holding each file of ASSETS (a list of paths) as a string
# literal, with its name, content type and a digest of its bytes, for web_assets.h.
#   cmake -DOUTPUT=web_assets_data.cpp "-DASSETS=a.css;b.js" -P embed_assets.cmake
set(table "")
set(data "")
set(index 0)
foreach(asset IN LISTS ASSETS)
  get_filename_component(name ${asset} NAME)
  get_filename_component(extension ${asset} LAST_EXT)
  if(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "no content type for ${asset}")
  endif()
  file(SHA256 ${asset} digest)
  string(SUBSTRING ${digest} 0 16 digest)
  file(READ ${asset} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  # One literal per byte ("\x2f" "\x2a" ...), 24 to a line: a hex escape never runs on.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\"\\\\x\\1\"" literal "${hex}")
  string(REGEX REPLACE "((\"[^\"]*\"){24})" "\\1\n    " literal "${literal}")
  string(APPEND data "constexpr char kAsset${index}[] =\n    ${literal};\n")
  string(APPEND table "    {\"${name}\", \"${type}\", \"${digest}\", {kAsset${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new
     "// Made by server/web/embed_assets.cmake from server/web/assets/; do not edit.\n"
     "#include \"server/web/web_assets.h\"\n\n"
     "namespace corvantis::server {\n\nnamespace {\n\n${data}\n}  // namespace\n\n"
     "const WebAsset kWebAssets[] = {\n${table}};\n"
     "const std::size_t kWebAssetCount = ${index};\n\n"
     "}  // namespace corvantis::server\n")
# Rewritten only when it changes, so an unchanged asset rebuilds nothing.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
