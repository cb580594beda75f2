// The log file on Windows: opened without truncating, shared for reading
// only (so a second writer is refused), then emptied.
#include "system/file_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

namespace imutap {

namespace {

HANDLE handle_of(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

bool move_to(HANDLE file, std::uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

// The file's volume and number; false when the system cannot tell. Asked
// for the file's id, which needs no access to the file: standard output may
// be open for writing only.
bool file_id_of(HANDLE file, FILE_ID_INFO& id)
{
    return GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) != 0;
}

} // namespace

file_open_result file_create_exclusive(const char* name, std::intptr_t& handle, int& error)
{
    const HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return error == ERROR_SHARING_VIOLATION ? file_open_result::in_use
                                                : file_open_result::failed;
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return file_open_result::opened;
}

int file_empty(std::intptr_t handle)
{
    // Only a file on a disk is emptied: NUL or a pipe are written as they are.
    const auto file = reinterpret_cast<HANDLE>(handle);
    if (GetFileType(file) == FILE_TYPE_DISK && (!move_to(file, 0) || SetEndOfFile(file) == 0))
        return static_cast<int>(GetLastError());
    return 0;
}

int file_write(std::intptr_t handle, const void* bytes, std::uint32_t count, std::uint32_t& written)
{
    const char* from = static_cast<const char*>(bytes);
    written = 0;
    while (written < count) {
        DWORD done = 0;
        if (WriteFile(handle_of(handle), from + written, count - written, &done, nullptr) == 0) {
            written += done;
            return static_cast<int>(GetLastError());
        }
        if (done == 0)
            return ERROR_WRITE_FAULT;
        written += done;
    }
    return 0;
}

bool file_cut(std::intptr_t handle, std::uint64_t size)
{
    const HANDLE file = handle_of(handle);
    return move_to(file, size) && SetEndOfFile(file) != 0;
}

bool file_close(std::intptr_t handle)
{
    return CloseHandle(handle_of(handle)) != 0;
}

bool file_is_standard_output(const char* name)
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    FILE_ID_INFO output_id;
    if (output == nullptr || output == INVALID_HANDLE_VALUE ||
        GetFileType(output) != FILE_TYPE_DISK || !file_id_of(output, output_id))
        return false;
    // Opened for no access at all: only to learn which file the name is.
    const HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILE_ID_INFO file_id;
    const bool known = file_id_of(file, file_id);
    CloseHandle(file);
    // A volume of 0 is one the system could not tell (Wine gives none for a
    // handle the process inherited): the file's number decides then.
    return known && std::memcmp(&file_id.FileId, &output_id.FileId, sizeof file_id.FileId) == 0 &&
           (file_id.VolumeSerialNumber == output_id.VolumeSerialNumber ||
            file_id.VolumeSerialNumber == 0 || output_id.VolumeSerialNumber == 0);
}

// A pipe on Windows is a server's, opened by name or refused at once: there
// is nothing to wait for.
reader_check file_find_reader(const char*, std::intptr_t&)
{
    return reader_check::not_a_pipe;
}

// The log file is shared for reading only, so the system refuses to delete
// it (or its folder) while the run has it open.
bool file_deleted(std::intptr_t)
{
    return false;
}

void error_text(int code, char* text, std::size_t size)
{
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::strncpy(text, "error", size);
        text[size - 1] = '\0';
        return;
    }
    // The system's texts end in a full stop and a line end.
    std::size_t end = length;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.' ||
                       text[end - 1] == ' '))
        --end;
    text[end] = '\0';
}

} // namespace imutap
