#pragma once

#include <sys/types.h>

// Opens a trace file as every trace open must: never through a link at its last component, and
// only a regular file of the effective user, so that a file someone else planted where the
// trace goes is never written to, nor cut down by a trim. Returns the descriptor, or -1 with
// errno set.
int trace_file_open(const char* path, int flags, mode_t mode);
