#include "trace/thread_text.h"

#include <algorithm>
#include <cstring>

char* thread_text_buffer() {
  thread_local char buffer[thread_text_capacity];
  return buffer;
}

const char* thread_text(const char* text) {
  char* buffer = thread_text_buffer();
  if (text != buffer) {
    const std::size_t length = std::min(std::strlen(text), thread_text_capacity - 1);
    std::memmove(buffer, text, length);
    buffer[length] = '\0';
  }
  return buffer;
}
