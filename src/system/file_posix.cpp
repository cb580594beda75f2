// The log file on Linux: open without truncating and flock; ftruncate once
// the run may begin.
#include "system/file_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imutap {

file_open_result file_create_exclusive(const char* name, std::intptr_t& handle, int& error)
{
    const int fd = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return file_open_result::failed;
    }
    // Every imutap takes the lock before it empties the file, so a running
    // one keeps its log. A file system without locks (some network ones)
    // is written unlocked rather than not at all.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return file_open_result::in_use;
    }
    handle = fd;
    return file_open_result::opened;
}

int file_empty(std::intptr_t handle)
{
    // Only a regular file is emptied: /dev/null or a pipe are written as they are.
    const int fd = static_cast<int>(handle);
    struct stat found;
    if (fstat(fd, &found) != 0 || (S_ISREG(found.st_mode) && ftruncate(fd, 0) != 0))
        return errno;
    return 0;
}

int file_write(std::intptr_t handle, const void* bytes, std::uint32_t count, std::uint32_t& written)
{
    const char* from = static_cast<const char*>(bytes);
    written = 0;
    while (written < count) {
        const ssize_t done = write(static_cast<int>(handle), from + written, count - written);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return EIO;
        written += static_cast<std::uint32_t>(done);
    }
    return 0;
}

bool file_cut(std::intptr_t handle, std::uint64_t size)
{
    const int fd = static_cast<int>(handle);
    const off_t end = static_cast<off_t>(size);
    const bool cut = ftruncate(fd, end) == 0;
    return lseek(fd, end, SEEK_SET) == end && cut;
}

bool file_close(std::intptr_t handle)
{
    return close(static_cast<int>(handle)) == 0;
}

bool file_is_standard_output(const char* name)
{
    struct stat output;
    struct stat file;
    return fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
           stat(name, &file) == 0 && file.st_dev == output.st_dev && file.st_ino == output.st_ino;
}

reader_check file_find_reader(const char* name, std::intptr_t& held)
{
    struct stat found;
    if (stat(name, &found) != 0 || !S_ISFIFO(found.st_mode))
        return reader_check::not_a_pipe;
    // Without a reader a non-blocking open for writing fails with ENXIO.
    const int fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        held = fd;
        return reader_check::reader_there;
    }
    return errno == ENXIO ? reader_check::no_reader : reader_check::not_a_pipe;
}

bool file_deleted(std::intptr_t handle)
{
    struct stat found;
    return fstat(static_cast<int>(handle), &found) == 0 && S_ISREG(found.st_mode) &&
           found.st_nlink == 0;
}

void error_text(int code, char* text, std::size_t size)
{
    std::snprintf(text, size, "%s", std::strerror(code));
}

} // namespace imutap
