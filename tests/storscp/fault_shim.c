// Injected file-system failures for the storage service under test, loaded
// with LD_PRELOAD. ZYL_TEST_FAULT="<call>:<text>" makes <call> (write,
// fdatasync, fsync, close or rename) fail with EIO when the path it works on
// contains <text>; everything else goes to the C library untouched.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char* FaultText(const char* call) {
  const char* fault = getenv("ZYL_TEST_FAULT");
  const size_t length = strlen(call);
  if (fault == NULL || strncmp(fault, call, length) != 0 || fault[length] != ':') return NULL;
  return fault + length + 1;
}

static int PathHas(const char* path, const char* text) { return path != NULL && strstr(path, text) != NULL; }

static int DescriptorHas(int fd, const char* text) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return PathHas(path, text);
}

// Whether `call` on descriptor `fd` is to fail; sets errno when it is.
static int FailsOn(const char* call, int fd) {
  const char* text = FaultText(call);
  if (text == NULL || !DescriptorHas(fd, text)) return 0;
  errno = EIO;
  return 1;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* data, size_t size) {
  if (FailsOn("write", fd)) return -1;
  return NEXT(write)(fd, data, size);
}

int fdatasync(int fd) {
  if (FailsOn("fdatasync", fd)) return -1;
  return NEXT(fdatasync)(fd);
}

int fsync(int fd) {
  if (FailsOn("fsync", fd)) return -1;
  return NEXT(fsync)(fd);
}

int close(int fd) {
  // The descriptor is closed all the same, as the kernel does when close fails.
  const int failing = FailsOn("close", fd);
  const int result = NEXT(close)(fd);
  if (failing) {
    errno = EIO;
    return -1;
  }
  return result;
}

int rename(const char* from, const char* to) {
  const char* text = FaultText("rename");
  if (text != NULL && PathHas(from, text)) {
    errno = EIO;
    return -1;
  }
  return NEXT(rename)(from, to);
}
