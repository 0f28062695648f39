// Faults on demand, for a program run with this library in LD_PRELOAD. Each is chosen by an
// environment variable; counts start at 1 and run over the whole process.
//
//   QW_FAIL_ALLOCATION=N      the Nth malloc, calloc or realloc fails (ENOMEM)
//   QW_SIGNAL_AT_ALLOCATION=N SIGTERM is raised at the Nth allocation
//   QW_FAULT_CSV=PATH         the file the write faults below apply to (an absolute path)
//   QW_FAIL_WRITE=N:ERRNO     the Nth write to it fails with that errno
//   QW_DISK_FULL_AFTER=K      it takes K bytes in all, then every write fails with ENOSPC
//   QW_WRITE_CHUNK=B          every write to it takes at most B bytes
//   QW_SIGNAL_AT_WRITE=N      SIGTERM is raised at the Nth write to it
//   QW_RENAME_AT_WRITE=N:PATH it is renamed to PATH at the Nth write to it
//   QW_ROTATE_AT_LOCK=N:PATH  at the Nth exclusive flock of it (0: at every one), before the
//                             lock is taken, it is renamed to PATH and an empty file takes its
//                             place, as a rotation does
//   QW_FAIL_TRUNCATE=ERRNO    every ftruncate of it fails with that errno, as on an append-only
//                             file
//   QW_FAULT_COUNTS=FILE      at exit, "ALLOCATIONS WRITES\n" (the counts of the run)
//                             to FILE
//
// Nothing here may allocate: it sits under malloc itself.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

// glibc's own allocator, under the names it exports for libraries that stand in for malloc.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

long allocations = 0;
long csv_writes = 0;
long csv_locks = 0;
long csv_bytes = 0;
int csv_descriptor = -1;

long number_from(const char *variable)
{
    const char *value = std::getenv(variable);
    return value != nullptr ? std::strtol(value, nullptr, 10) : 0;
}

// The part after the colon of "N:REST", or null.
const char *rest_of(const char *variable)
{
    const char *value = std::getenv(variable);
    const char *colon = value != nullptr ? std::strchr(value, ':') : nullptr;
    return colon != nullptr ? colon + 1 : nullptr;
}

// False when this allocation is to fail.
bool allocation_granted()
{
    ++allocations;
    if (allocations == number_from("QW_SIGNAL_AT_ALLOCATION")) {
        std::raise(SIGTERM);
    }
    if (allocations == number_from("QW_FAIL_ALLOCATION")) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

bool is_csv(int descriptor)
{
    if (descriptor == csv_descriptor) {
        return true;
    }
    const char *csv_path = std::getenv("QW_FAULT_CSV");
    if (descriptor <= STDERR_FILENO || csv_path == nullptr || csv_descriptor >= 0) {
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length < 0) {
        return false;
    }
    target[length] = '\0';
    if (std::strcmp(target, csv_path) != 0) {
        return false;
    }
    csv_descriptor = descriptor;
    return true;
}

ssize_t system_write(int descriptor, const void *bytes, std::size_t count)
{
    return ::syscall(SYS_write, descriptor, bytes, count);
}

ssize_t csv_write(int descriptor, const void *bytes, std::size_t count)
{
    ++csv_writes;
    if (csv_writes == number_from("QW_SIGNAL_AT_WRITE")) {
        std::raise(SIGTERM);
    }
    if (csv_writes == number_from("QW_RENAME_AT_WRITE")) {
        std::rename(std::getenv("QW_FAULT_CSV"), rest_of("QW_RENAME_AT_WRITE"));
    }
    if (csv_writes == number_from("QW_FAIL_WRITE")) {
        errno = static_cast<int>(std::strtol(rest_of("QW_FAIL_WRITE"), nullptr, 10));
        return -1;
    }
    if (std::getenv("QW_DISK_FULL_AFTER") != nullptr) {
        const long room = number_from("QW_DISK_FULL_AFTER") - csv_bytes;
        if (room <= 0) {
            errno = ENOSPC;
            return -1;
        }
        count = std::min(count, static_cast<std::size_t>(room));
    }
    const long chunk = number_from("QW_WRITE_CHUNK");
    if (chunk > 0) {
        count = std::min(count, static_cast<std::size_t>(chunk));
    }
    const ssize_t written = system_write(descriptor, bytes, count);
    if (written > 0) {
        csv_bytes += written;
    }
    return written;
}

void rotate_if_asked()
{
    ++csv_locks;
    const char *rotated_path = rest_of("QW_ROTATE_AT_LOCK");
    const long at = number_from("QW_ROTATE_AT_LOCK");
    const char *csv_path = std::getenv("QW_FAULT_CSV");
    if (rotated_path == nullptr || csv_path == nullptr || (at != 0 && at != csv_locks)) {
        return;
    }
    std::rename(csv_path, rotated_path);
    const int replacement = ::open(csv_path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (replacement >= 0) {
        ::close(replacement);
    }
}

__attribute__((destructor)) void write_counts()
{
    const char *counts_path = std::getenv("QW_FAULT_COUNTS");
    if (counts_path == nullptr) {
        return;
    }
    char counts[64];
    const int length = std::snprintf(counts, sizeof counts, "%ld %ld\n", allocations, csv_writes);
    const int file = ::open(counts_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file >= 0) {
        system_write(file, counts, static_cast<std::size_t>(length));
        ::close(file);
    }
}

} // namespace

// The stand-ins keep the C library's signatures, not its parameter names.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

void *malloc(std::size_t size)
{
    return allocation_granted() ? __libc_malloc(size) : nullptr;
}

void *calloc(std::size_t count, std::size_t size)
{
    return allocation_granted() ? __libc_calloc(count, size) : nullptr;
}

void *realloc(void *block, std::size_t size)
{
    return allocation_granted() ? __libc_realloc(block, size) : nullptr;
}

int flock(int descriptor, int operation)
{
    if ((operation & LOCK_EX) != 0 && is_csv(descriptor)) {
        rotate_if_asked();
    }
    return static_cast<int>(::syscall(SYS_flock, descriptor, operation));
}

int ftruncate(int descriptor, off_t length)
{
    if (std::getenv("QW_FAIL_TRUNCATE") != nullptr && is_csv(descriptor)) {
        errno = static_cast<int>(number_from("QW_FAIL_TRUNCATE"));
        return -1;
    }
    return static_cast<int>(::syscall(SYS_ftruncate, descriptor, length));
}

ssize_t write(int descriptor, const void *bytes, std::size_t count)
{
    if (is_csv(descriptor)) {
        return csv_write(descriptor, bytes, count);
    }
    return system_write(descriptor, bytes, count);
}

} // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
