/* Runs one command and reports its wall time and peak memory:
 *
 *   measure [-o file] [-e NAME=VALUE]... command [args...]
 *
 * prints "<nanoseconds> <peak RSS in KiB> <exit status>" on standard output. The command's
 * standard output goes to the file (default /dev/null), its standard error to /dev/null, and each
 * -e adds a variable to its environment alone.
 *
 * The time runs from just before the command is started to just after it has been reaped, so it
 * holds the whole process (start-up, dynamic linking, exit) and none of the benchmark's own
 * bookkeeping. The peak is wait4()'s ru_maxrss, the figure GNU time reports as %M. A process
 * started by this small static program begins with its tiny memory map (Linux carries the peak of
 * the map that exec replaces over to the new program), where one started by the benchmark's Python
 * process would report Python's peak. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char* argv[]) {
  const char* output = "/dev/null";
  size_t count = 0;
  while (environ[count]) {
    ++count;
  }
  char** env = calloc(count + (size_t)argc + 1, sizeof *env);
  if (!env) {
    return 125;
  }
  memcpy(env, environ, count * sizeof *env);
  int i = 1;
  for (; i < argc; ++i) {
    if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (strcmp(argv[i], "-e") == 0 && i + 1 < argc) {
      env[count++] = argv[++i];
    } else {
      break;
    }
  }
  if (i == argc) {
    fputs("usage: measure [-o file] [-e NAME=VALUE]... command [args...]\n", stderr);
    return 125;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid;
  const int error = posix_spawnp(&pid, argv[i], &actions, NULL, argv + i, env);
  if (error != 0) {
    fprintf(stderr, "measure: cannot run %s: %s\n", argv[i], strerror(error));
    return 125;
  }
  int status;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("measure: wait4");
      return 125;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  const long long nanoseconds =
      (long long)(end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%lld %ld %d\n", nanoseconds, usage.ru_maxrss, code);
  return 0;
}
