// The command log and the -v notes.
#include "emu_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace imutap_emu {

bool open_command_log(const std::string& path, emu_log& log, std::string& error)
{
    log.commands_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log.commands_fd < 0) {
        error = "cannot open command log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void close_command_log(emu_log& log)
{
    if (log.commands_fd >= 0)
        close(log.commands_fd);
    log.commands_fd = -1;
}

void log_command_byte(const emu_log& log, std::int64_t now, std::uint8_t byte)
{
    if (log.commands_fd < 0)
        return;
    char line[48];
    int length = std::snprintf(line, sizeof line, "%lld %02x\n",
                               static_cast<long long>((now - log.start_ns) / 1000),
                               static_cast<unsigned>(byte));
    ssize_t written = write(log.commands_fd, line, static_cast<std::size_t>(length));
    (void)written; // a failing log must not stop the unit
}

void note(const emu_log& log, std::int64_t now, const char* format, ...)
{
    if (!log.verbose)
        return;
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::int64_t us = (now - log.start_ns) / 1000;
    std::fprintf(stderr, "imutap-emu: %lld.%06lld %s\n", static_cast<long long>(us / 1'000'000),
                 static_cast<long long>(us % 1'000'000), message);
}

std::string byte_name(std::uint8_t byte)
{
    char text[8];
    if (byte >= 0x20 && byte < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", static_cast<char>(byte));
    else
        std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(byte));
    return text;
}

} // namespace imutap_emu
