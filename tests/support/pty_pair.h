// A pseudo-terminal for the serial tests: the test plays the unit on the
// master side, the code under test opens the slave by its path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct pty_pair {
    int master = -1;
    int held_slave = -1; // kept open so the pty outlives the port's close
    std::string slave_path;
};

pty_pair open_pty_pair();
void close_pty_pair(pty_pair& pty);

void write_all(int fd, const std::vector<std::uint8_t>& bytes);
// Reads what arrives within `wait_ms` (stops early once `at_most` came).
std::vector<std::uint8_t> read_for(int fd, int wait_ms, std::size_t at_most = 65536);
