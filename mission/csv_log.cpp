// The CSV log on the file system: a record is appended whole, or the log is left as it was, and
// a record that did not get in is said.
#include "mission.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A log that a rotation replaces between the open and the lock is opened again, this many times
// in all before the run gives up on it.
constexpr int open_attempts = 8;

void say_not_appended(const char *csvname, const char *reason)
{
    write_diagnostic(std::string("record not appended to ") + csvname + ": " + reason + "\n");
}

// The signals that end a process by default and that anyone may send at any moment. Held back
// while the lock is held, they take effect once the log is closed, so none of them can cut a
// record; while the run waits for the lock they end it as they would any other program. SIGXFSZ
// is ignored for the whole run: a write past the file-size limit fails, and is said.
sigset_t termination_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number :
         {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal_number);
    }
    return signals;
}

// Gives 0 or the errno of the write that failed; `written` counts the bytes that got in.
int write_all(int log, std::string_view bytes, std::size_t &written)
{
    while (!bytes.empty()) {
        const ssize_t taken = ::write(log, bytes.data(), bytes.size());
        if (taken < 0 && errno == EINTR) {
            continue;
        }
        if (taken < 0) {
            return errno;
        }
        if (taken == 0) {
            return EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(taken));
        written += static_cast<std::size_t>(taken);
    }
    return 0;
}

// Under the lock no cooperating writer moves the end of the file, so cutting a regular file
// back to its size before the record takes away exactly the part of the record that got in.
// Where the cut fails too (an append-only file, say), that part stays, and the file's reader
// must be told.
bool write_record(int log, const char *csvname, std::string_view record)
{
    struct stat before {};
    if (::fstat(log, &before) != 0) {
        say_not_appended(csvname, std::strerror(errno));
        return false;
    }
    std::size_t written = 0;
    const int error = write_all(log, record, written);
    if (error == 0) {
        return true;
    }
    if (written > 0 && S_ISREG(before.st_mode) && ::ftruncate(log, before.st_size) != 0) {
        const int cut_error = errno;
        write_diagnostic(std::string("record cut short in ") + csvname + ": " +
                         std::strerror(error) +
                         " (the file could not be cut back: " + std::strerror(cut_error) + ")\n");
        return false;
    }
    say_not_appended(csvname, std::strerror(error));
    return false;
}

// The log was opened without blocking, so that a FIFO nobody reads fails at once; a reader that
// is there gets the record at its own pace.
int wait_for_lock(int log)
{
    const int flags = ::fcntl(log, F_GETFL);
    if (flags < 0 || ::fcntl(log, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return errno;
    }
    while (::flock(log, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// A rotation between the open and the lock leaves the run holding a file that the path no
// longer names, which nobody may ever read again.
bool still_named(int log, const char *csvname)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(log, &opened) == 0 && ::stat(csvname, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// One attempt: true or false once the record is appended or said not to be, none when the log
// was replaced before its lock was had and nothing was written.
std::optional<bool> append_once(const char *csvname, std::string_view record)
{
    const int log = ::open(csvname, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (log < 0) {
        say_not_appended(csvname, std::strerror(errno));
        return false;
    }
    if (const int error = wait_for_lock(log); error != 0) {
        ::close(log);
        say_not_appended(csvname, std::strerror(error));
        return false;
    }
    const sigset_t held = termination_signals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    std::optional<bool> appended;
    if (still_named(log, csvname)) {
        appended = write_record(log, csvname, record);
    }
    // Every byte has been taken by the kernel by now; closing also releases the lock.
    ::close(log);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return appended;
}

} // namespace

bool append_record(const char *csvname, std::string_view record)
{
    for (int attempt = 0; attempt < open_attempts; ++attempt) {
        if (const std::optional<bool> appended = append_once(csvname, record)) {
            return *appended;
        }
    }
    write_diagnostic(std::string("record not appended to ") + csvname + ": the file was replaced " +
                     std::to_string(open_attempts) + " times while the run waited for its lock\n");
    return false;
}
