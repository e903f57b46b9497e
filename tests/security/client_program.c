/* A client for the code-signing tests: says it runs, then waits until its input ends. */
#include <unistd.h>

int main(void) {
  char byte = 'r';
  if (write(STDOUT_FILENO, &byte, 1) != 1) return 1;
  while (read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
