// Linked into every program of the ThreadSanitizer tree. The tests start the daemon and the tools
// with environments of their own, where TSAN_OPTIONS would not reach; a race stops the program at
// once, so the test that drove it fails instead of passing with a report nobody reads.
const char* __tsan_default_options(void);

const char* __tsan_default_options(void) {
  return "halt_on_error=1:second_deadlock_stack=1";
}
