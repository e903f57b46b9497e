#pragma once

#include <sys/types.h>

// The process id and the calling thread's system-wide id, read once per thread and read again
// in a child after fork, so an ordinary trace line asks the kernel for neither.
pid_t current_process_id();
pid_t current_thread_id();
