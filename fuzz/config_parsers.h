#pragma once
// The settings, list and selection parsers the fuzz targets drive, under one name.
#include "config/ini_file.h"
#include "config/list_files.h"
#include "config/selection.h"
#include "config/settings.h"

namespace mirava::fuzz::config {
using namespace mirava::config;
}  // namespace mirava::fuzz::config
