// The ceiling for the logger's packet rate: reads the unit's stream from its
// tty in 4 KiB reads and throws the bytes away, as fast as they come.
//
//   imutap_plain_reader BYTES -c LINK
//
// (the emulated unit's exec mode appends "-c LINK"). Ends after BYTES bytes,
// or with status 1 after 5 s without a byte. Says on standard output:
//
//   bytes B seconds S cpu_seconds C
//
// S runs from the end of the first read to the end of the last, and B counts
// the bytes read in that time: the first read, which takes what queued before
// the reader came, is left out. C is the reader's own CPU time, all of it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr std::size_t read_size = 4096;
constexpr cc_t give_up_deciseconds = 50;

double monotonic_seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double cpu_seconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Raw, and a read returns as soon as anything is there (or after the give-up time).
bool make_raw(int fd)
{
    struct termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = give_up_deciseconds;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[2], "-c") != 0) {
        std::fprintf(stderr, "usage: imutap_plain_reader BYTES -c LINK\n");
        return 2;
    }
    const std::uint64_t wanted = std::strtoull(argv[1], nullptr, 10);
    const int fd = open(argv[3], O_RDONLY | O_NOCTTY);
    if (fd < 0 || !make_raw(fd)) {
        std::perror(argv[3]);
        return 1;
    }

    char buffer[read_size];
    std::uint64_t total = 0;
    std::uint64_t after_first = 0;
    double first_end = 0.0;
    double last_end = 0.0;
    while (total < wanted) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            std::fprintf(stderr, "imutap_plain_reader: stream ended after %llu of %llu bytes\n",
                         static_cast<unsigned long long>(total),
                         static_cast<unsigned long long>(wanted));
            return 1;
        }
        last_end = monotonic_seconds();
        if (total == 0)
            first_end = last_end;
        else
            after_first += static_cast<std::uint64_t>(got);
        total += static_cast<std::uint64_t>(got);
    }
    std::printf("bytes %llu seconds %.6f cpu_seconds %.6f\n",
                static_cast<unsigned long long>(after_first), last_end - first_end, cpu_seconds());
    close(fd);
    return 0;
}
