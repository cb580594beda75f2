// Reading the logger's line speed from the pty's termios2 settings.
#include "line_rate.h"

// termios2 carries the rate as a number; <termios.h> would clash with these headers.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace imutap_emu {

std::uint32_t line_rate(int fd)
{
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return 0;
    return settings.c_ospeed;
}

std::int64_t byte_time_ns(std::uint32_t bits_per_second)
{
    if (bits_per_second == 0)
        return 0;
    return std::int64_t(10) * 1'000'000'000 / static_cast<std::int64_t>(bits_per_second);
}

} // namespace imutap_emu
