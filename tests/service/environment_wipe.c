/* Preloaded into a client by the tests: overwrites its own LD_PRELOAD entry in the environment
   block, so that the process's initial environment no longer shows what was loaded. */
#include <string.h>

extern char** environ;

__attribute__((constructor)) static void wipe_preload_entry(void) {
  for (char** entry = environ; *entry != NULL; ++entry) {
    if (strncmp(*entry, "LD_PRELOAD=", 11) == 0) memset(*entry, 'x', strlen(*entry));
  }
}
