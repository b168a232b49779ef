#pragma once
// The settings, list and selection parsers the fuzz targets drive, under one name, so that
// moving them to another folder or namespace touches only this file and fuzz/CMakeLists.txt.
#include "app/ini_file.h"
#include "app/list_files.h"
#include "app/selection.h"
#include "app/settings.h"

namespace mirava::fuzz::config {
using namespace mirava::app;
}  // namespace mirava::fuzz::config
