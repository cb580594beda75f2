// The pseudo-terminal on Linux: opening and setting it up, watching for closes, holding
// the logger's output, and the link path.
#include "pty_link.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace imutap_emu {

namespace {

bool fail(std::string& error, const std::string& what)
{
    error = what + ": " + std::strerror(errno);
    return false;
}

bool set_raw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// As an earlier program may have left a serial line.
bool set_line_state(int fd, line_state state)
{
    if (state == line_state::raw)
        return true;
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    settings.c_iflag |= IXON | IXOFF;
    if (state == line_state::seven_bit) {
        settings.c_iflag |= ISTRIP | INPCK | PARMRK;
        settings.c_cflag &= ~(CSIZE | PARODD);
        settings.c_cflag |= CS7 | PARENB | CRTSCTS;
    }
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool set_up(pty_link& link, line_state state, std::string& error)
{
    link.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (link.master < 0)
        return fail(error, "cannot open a pseudo-terminal");
    if (fcntl(link.master, F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(link.master, F_SETFL, fcntl(link.master, F_GETFL) | O_NONBLOCK) != 0)
        return fail(error, "cannot set up the pseudo-terminal");
    if (grantpt(link.master) != 0 || unlockpt(link.master) != 0)
        return fail(error, "cannot unlock the pseudo-terminal");
    if (ptsname_r(link.master, link.slave_path, sizeof link.slave_path) != 0)
        return fail(error, "cannot name the pseudo-terminal");
    link.slave = open(link.slave_path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (link.slave < 0)
        return fail(error, std::string("cannot open ") + link.slave_path);
    if (!set_raw(link.slave))
        return fail(error, std::string("cannot set ") + link.slave_path + " to raw mode");
    if (!set_line_state(link.slave, state))
        return fail(error, std::string("cannot set the line state of ") + link.slave_path);
    // Watched only from here on, so the emulator's own open is not reported. Without
    // inotify the unit still works; only a left-over exclusive mode stays.
    link.close_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (link.close_watch >= 0 &&
        inotify_add_watch(link.close_watch, link.slave_path, IN_CLOSE) < 0) {
        close(link.close_watch);
        link.close_watch = -1;
    }
    return true;
}

} // namespace

bool open_unit_pty(pty_link& link, line_state state, std::string& error)
{
    link.held = false;
    if (set_up(link, state, error))
        return true;
    close_unit_pty(link);
    return false;
}

void close_unit_pty(pty_link& link)
{
    if (link.close_watch >= 0)
        close(link.close_watch);
    link.close_watch = -1;
    if (link.slave >= 0)
        close(link.slave);
    if (link.master >= 0)
        close(link.master);
    link.slave = -1;
    link.master = -1;
}

bool pty_open(const pty_link& link)
{
    return link.master >= 0;
}

bool release_exclusive_after_close(const pty_link& link)
{
    alignas(inotify_event) char events[1024];
    bool closed = false;
    while (read(link.close_watch, events, sizeof events) > 0)
        closed = true; // every event watched is a close
    int exclusive = 0;
    if (!closed || ioctl(link.slave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
        return false;
    return ioctl(link.slave, TIOCNXCL) == 0;
}

bool hold_output(pty_link& link)
{
    if (link.held || tcgetattr(link.slave, &link.before_hold) != 0)
        return false;
    termios settings = link.before_hold;
    settings.c_iflag |= IXON;
    const char xoff = 0x13;
    if (tcsetattr(link.slave, TCSANOW, &settings) != 0 || write(link.master, &xoff, 1) != 1)
        return false;
    link.held = true;
    return true;
}

void release_output(pty_link& link)
{
    if (!link.held)
        return;
    link.held = false;
    const char xon = 0x11;
    if (write(link.master, &xon, 1) == 1)
        tcsetattr(link.slave, TCSANOW, &link.before_hold);
}

std::size_t slave_input_waiting(const pty_link& link)
{
    int waiting = 0;
    if (link.slave < 0 || ioctl(link.slave, FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return static_cast<std::size_t>(waiting);
}

bool point_link(const std::string& link_path, const char* target, std::string& error)
{
    struct stat existing {};
    if (lstat(link_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = "will not replace " + link_path + ": it is not a symlink";
        return false;
    }
    std::string temporary = link_path + ".new" + std::to_string(static_cast<long>(getpid()));
    unlink(temporary.c_str());
    if (symlink(target, temporary.c_str()) != 0)
        return fail(error, "cannot create symlink " + temporary);
    if (rename(temporary.c_str(), link_path.c_str()) != 0) {
        fail(error, "cannot rename " + temporary + " to " + link_path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

void remove_link(const std::string& link_path, const char* target)
{
    char current[256];
    ssize_t length = readlink(link_path.c_str(), current, sizeof current - 1);
    if (length < 0)
        return;
    current[length] = '\0';
    if (std::strcmp(current, target) == 0)
        unlink(link_path.c_str());
}

} // namespace imutap_emu
