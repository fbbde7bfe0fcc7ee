/* Preloaded (LD_PRELOAD) into olvent by its command-line tests, to reach the moments when a
 * workbook is being written. The workbook library makes each scratch file as "tmp." + ten
 * characters and unlinks it right away; this library watches those unlinks.
 *   TARNWICK_HOOK_FD=n       before each such unlink, the scratch file's path and a line feed
 *                            are written to the open file descriptor n;
 *   TARNWICK_HOOK_STOP_AT=k  at the k-th one (from 1) the process then waits, the scratch file
 *                            still there, until a signal ends it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int is_scratch_file(const char* path)
{
  const char* name = strrchr(path, '/');
  name = name ? name + 1 : path;
  if (strncmp(name, "tmp.", 4) != 0 || strlen(name) != 14)
    return 0;
  for (const char* c = name + 4; *c; ++c) {
    if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z')))
      return 0;
  }
  return 1;
}

static void tell(int fd, const char* path)
{
  size_t length = strlen(path);
  while (length > 0) {
    ssize_t written = write(fd, path, length);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return;
    path += written;
    length -= (size_t)written;
  }
  while (write(fd, "\n", 1) < 0 && errno == EINTR) {
  }
}

int unlink(const char* path)
{
  static long seen = 0;
  int (*real_unlink)(const char*) = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
  if (is_scratch_file(path)) {
    const char* fd_text = getenv("TARNWICK_HOOK_FD");
    const char* stop_text = getenv("TARNWICK_HOOK_STOP_AT");
    int saved_errno = errno;
    ++seen;
    if (fd_text != NULL)
      tell(atoi(fd_text), path);
    if (stop_text != NULL && atol(stop_text) == seen) {
      for (;;)
        pause();
    }
    errno = saved_errno;
  }
  return real_unlink(path);
}
