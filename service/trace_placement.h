#pragma once

#include "trace/string.h"

// The trace directory + "/" + name, or a copy of the directory when name is empty. Not
// normalised: a directory ending in "/" gives a double slash.
string_t join(const string_t& name);

// Chooses the process-wide trace directory: "/var/log/" when the system trace file can be opened
// there, else ".velmora" in the home directory of the user (the console user for root), HOME or
// "/tmp". Ends the process when that directory or its probe file cannot be created.
void choose_trace_directory();
