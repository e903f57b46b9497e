/* A client for the code-signing tests: says it runs, then waits until its input ends. Started
   with a program path, it runs that program in its place when a byte arrives. */
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  char byte = 'r';
  /* What the client library does before main in every real client. */
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return 1;
  if (write(STDOUT_FILENO, &byte, 1) != 1) return 1;
  while (read(STDIN_FILENO, &byte, 1) > 0) {
    if (argc > 1) {
      char* replacement[] = {argv[1], NULL};
      execv(argv[1], replacement);
      return 1;
    }
  }
  return 0;
}
