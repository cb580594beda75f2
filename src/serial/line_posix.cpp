// The serial line's settings on Linux: the rate (any rate, through the termios2
// ioctls), raw 8N1 without flow control, and the read timing.
#include "serial/platform.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdint>
#include <sys/ioctl.h>

namespace imutap {

namespace {

struct rate_constant {
    std::int32_t rate;
    tcflag_t constant;
};

constexpr rate_constant standard_rates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t rate_flag(std::uint32_t rate)
{
    for (const rate_constant& entry : standard_rates)
        if (static_cast<std::uint32_t>(entry.rate) == rate)
            return entry.constant;
    return BOTHER;
}

} // namespace

// Nothing to do: the kernel sizes a tty's queues itself.
bool port_setup_queues(port_handle&, std::uint32_t, std::uint32_t)
{
    return true;
}

port_setup port_set_line(port_handle& port, std::uint32_t baud_rate)
{
    const int fd = static_cast<int>(port.os);
    struct termios2 native;
    if (ioctl(fd, TCGETS2, &native) != 0)
        return port_setup::read_failed;
    // Windows takes a rate as an unsigned number; a "negative" one is refused.
    if (baud_rate == 0 || baud_rate > 0x7FFFFFFFu) {
        errno = EINVAL;
        return port_setup::write_failed;
    }

    // Raw and byte-transparent, whatever an earlier program left: no echo, no
    // canonical mode, no translation either way, no stripping of the 8th bit,
    // no parity checking or marking, no flow control (XON/XOFF or RTS/CTS),
    // 8 data bits, no parity, one stop bit. The modem lines are left as they
    // are.
    native.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                        IUCLC | IXON | IXOFF | IXANY | IMAXBEL);
    native.c_oflag &= ~OPOST;
    native.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    native.c_cflag &=
        ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    native.c_cflag |= CS8 | CLOCAL | CREAD;
    // A read returns with what is queued; port_set_timing sets how long one
    // may wait for a first byte.
    native.c_cc[VMIN] = 0;
    native.c_cc[VTIME] = 0;

    const tcflag_t flag = rate_flag(baud_rate);
    native.c_cflag |= flag | (flag << IBSHIFT);
    native.c_ispeed = baud_rate;
    native.c_ospeed = baud_rate;
    if (ioctl(fd, TCSETS2, &native) != 0)
        return port_setup::write_failed;

    // The change succeeds when any part of it applies: check the rate took.
    struct termios2 applied;
    if (ioctl(fd, TCGETS2, &applied) != 0)
        return port_setup::write_failed;
    if (applied.c_ospeed != baud_rate) {
        errno = EINVAL;
        return port_setup::write_failed;
    }
    return port_setup::done;
}

// The timing is kept in the handle: port_read and port_write wait by it. A
// packet read waits in the tty itself (VMIN 0, VTIME the packet wait): a
// read returns with the first byte, or empty once the wait has run out.
port_setup port_set_timing(port_handle& port, const port_timing& timing)
{
    if (timing.first_byte_wait_ms == 0 || timing.first_byte_wait_ms > 0x7FFFFFFFu ||
        timing.write_wait_ms > 0x7FFFFFFFu || timing.packet_wait_ms < 100 ||
        timing.packet_wait_ms > 25500 || timing.packet_wait_ms % 100 != 0) {
        errno = EINVAL;
        return port_setup::write_failed;
    }
    const int fd = static_cast<int>(port.os);
    struct termios2 native;
    if (ioctl(fd, TCGETS2, &native) != 0)
        return port_setup::read_failed;
    native.c_cc[VMIN] = 0;
    native.c_cc[VTIME] = static_cast<cc_t>(timing.packet_wait_ms / 100);
    if (ioctl(fd, TCSETS2, &native) != 0)
        return port_setup::write_failed;
    port.timing = timing;
    return port_setup::done;
}

} // namespace imutap
