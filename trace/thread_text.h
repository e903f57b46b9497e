#pragma once

#include <cstddef>

// Each thread owns one text buffer. Texts the program keeps out of plain sight (trace formats
// among them) are produced into it and stay there until the next one is read on that thread.
inline constexpr std::size_t thread_text_capacity = 1024;

char* thread_text_buffer();

// Copies text (cut to the buffer) into the calling thread's buffer and returns the copy.
const char* thread_text(const char* text);
