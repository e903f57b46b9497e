#pragma once

// The calling thread's name as a trace line shows it: empty for a thread nobody named, "main"
// for the thread named "velmora". The kernel is asked for the name on every call, since another
// thread may rename this one at any time; the rest is redone only when the name changed.
const char* current_thread_name();
