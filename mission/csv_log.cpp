// The CSV log on the file system: a record is appended whole, or the log is left as it was.
#include "mission.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signals that end a process by default and that anyone may send at any moment. Held back
// while the log is open, they take effect once it is closed, so none of them can cut a record.
sigset_t termination_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number :
         {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGXFSZ, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal_number);
    }
    return signals;
}

// A write past the file-size limit raises SIGXFSZ as well as failing. The failure is reported;
// the signal, still held back, must not then end the run that reports it.
void discard_file_size_signal()
{
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGXFSZ) == 1) {
        sigset_t file_size_signal;
        sigemptyset(&file_size_signal);
        sigaddset(&file_size_signal, SIGXFSZ);
        int received = 0;
        sigwait(&file_size_signal, &received);
    }
}

int write_all(int log, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(log, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Under the lock no cooperating writer moves the end of the file, so cutting a regular file
// back to its size before the record takes away exactly the part of the record that got in.
int write_record(int log, std::string_view record)
{
    struct stat before {};
    if (::fstat(log, &before) != 0) {
        return errno;
    }
    const int error = write_all(log, record);
    if (error != 0 && S_ISREG(before.st_mode)) {
        // Should the cut fail too, nothing more can be done: the write's failure is the news.
        [[maybe_unused]] const int cut = ::ftruncate(log, before.st_size);
    }
    return error;
}

int lock_and_write(int log, std::string_view record)
{
    // The log was opened without blocking, so that a FIFO nobody reads fails at once; a reader
    // that is there gets the record at its own pace.
    const int flags = ::fcntl(log, F_GETFL);
    if (flags < 0 || ::fcntl(log, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return errno;
    }
    while (::flock(log, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return write_record(log, record);
}

int open_and_append(const char *csvname, std::string_view record)
{
    const int log = ::open(csvname, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (log < 0) {
        return errno;
    }
    const int error = lock_and_write(log, record);
    // Every byte has been taken by the kernel by now; closing also releases the lock.
    ::close(log);
    return error;
}

} // namespace

int append_record(const char *csvname, std::string_view record)
{
    const sigset_t held = termination_signals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    const int error = open_and_append(csvname, record);
    if (error == EFBIG) {
        discard_file_size_signal();
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return error;
}
