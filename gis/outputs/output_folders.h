// The outputs of a command, checked and their folders made ready before any
// computation. How they are then committed together: gis/outputs/commit.h.
#pragma once

#include "gis/gis.h"

#include <string>
#include <vector>

// Checks each output file: on the disk (not a GDAL virtual file), not a
// folder, a FIFO or a device, not read-only, with a name short enough for
// its temporary names. Creates the missing folders of each path (its parent
// folder, with every folder above it) and checks that each is a folder this
// process may write in. Empty paths are skipped. Throws Gis_error naming the
// output. Then the command's work starts (outputs_checked).
void prepare_output_folders(const std::vector<std::string>& paths);
