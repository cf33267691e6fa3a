// The program's resources as a Windows resource script: the Windows build compiles the menu,
// the dialog templates, the pictures and the icon from the same table that both Linux
// backends read, so the two never differ.
#pragma once

#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/types.h"

// A file that the resource script names by its bare name, to be written beside it.
struct ResourceScriptFile {
  std::string name;
  std::vector<BYTE> bytes;
};

// The resource script of `table`: the menus, the dialog templates (a "#118" text becomes
// picture 118), a BITMAP line per picture ("bitmap118.bmp") and an ICON line per icon group
// ("icon140.ico"). Styles are written as numbers, so the script needs no header.
std::string ResourceScript(const platform::ResourceTable& table);

// The files the script names, in the order it names them. Gives false (leaving `files` as it
// was) when a picture is no uncompressed bottom-up BMP file.
bool ResourceScriptFiles(const platform::ResourceTable& table,
                         std::vector<ResourceScriptFile>* files);

// An icon file of the group's images (each a BMP file of 8 bits or fewer), every image opaque.
// Gives false when an image is no such BMP file.
bool IconFile(const platform::IconResource& icon, std::vector<BYTE>* file);
