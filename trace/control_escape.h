#pragma once

#include <cstddef>

// Trace messages carry texts from clients (paths, operation names, namespaces). A control
// character among them could end the line and forge the next one, or drive a terminal, so each
// is rewritten in place as "\\n", "\\r", "\\t" or "\\xHH", the result cut between escapes to at
// most limit characters (text has room for them); returns the new length. A text without one,
// as every text of the service's own is, stays as it is.
std::size_t escape_control_characters(char* text, std::size_t length, std::size_t limit);
