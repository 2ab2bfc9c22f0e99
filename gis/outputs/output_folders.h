// The folders of a command's outputs, made ready before any computation.
#pragma once

#include "gis/gis.h"

#include <string>
#include <vector>

// Creates the missing folders of each path (its parent folder, with every
// folder above it), as import does, and checks that each is a folder this
// process may write in. Empty paths are skipped. Throws Gis_error naming the
// folder and the output.
void prepare_output_folders(const std::vector<std::string>& paths);
