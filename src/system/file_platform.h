// The operating-system operations on the log file. file_posix.cpp and
// file_win32.cpp each provide all of them for their system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imutap {

enum class file_open_result {
    opened,
    in_use, // another imutap holds the file
    failed,
};

// Opens the file for writing, creating it when it is missing, without
// emptying it, and takes it for exclusive use (an advisory lock on Linux,
// the share mode on Windows). An existing file is left as it is: its
// content, size and times. `error` gets the system's number on failure.
file_open_result file_create_exclusive(const char* name, std::intptr_t& handle, int& error);

// Empties a file on a disk; a device or a pipe is written as it is. Returns
// 0, or the system's number of the error.
int file_empty(std::intptr_t handle);

// Writes all `count` bytes, however many calls it takes; returns 0, or the
// system's number of the error that stopped it, with `written` the bytes
// that went out before it.
int file_write(std::intptr_t handle, const void* bytes, std::uint32_t count,
               std::uint32_t& written);

// Cuts the file to `size` bytes; the next write goes there.
bool file_cut(std::intptr_t handle, std::uint64_t size);

// Closes the file, giving up exclusive use; false when the system refused.
bool file_close(std::intptr_t handle);

// True when `name` is the file standard output writes: the same regular
// file through any path or link. A pipe or a terminal is never such a file.
bool file_is_standard_output(const char* name);

enum class reader_check {
    not_a_pipe, // not a named pipe (or nothing there yet): opened as any file
    reader_there, // a named pipe with a reader: `held` keeps it open for the reader
    no_reader, // a named pipe nobody reads yet: opening it would wait
};

// For a named pipe (FIFO) as the log: opens it for writing when a reader
// has it open, without waiting. `held` then keeps the pipe open, so that the
// reader does not see an end before the log file is open; file_close ends it.
reader_check file_find_reader(const char* name, std::intptr_t& held);

// True when the open file has no name left: deleted, or its directory
// removed. A file renamed or moved keeps a name.
bool file_deleted(std::intptr_t handle);

// The system's text for one of its error numbers.
void error_text(int code, char* text, std::size_t size);

} // namespace imutap
