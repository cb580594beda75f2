// A test fixture for the serial tests: a fresh pty pair for each test, with
// the logger's serial_port open on its slave side and the test playing the
// unit on `pty.master`. A port that does not open fails the test in SetUp,
// before its body runs; TearDown closes what is still open.
#pragma once

#include "pty_pair.h"
#include "serial/port.h"

#include <gtest/gtest.h>

#include <cstdint>

class pty_port : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Closes the port and the pty and opens both afresh, the line at
    // `baud_rate`. Wrap it in ASSERT_NO_FATAL_FAILURE.
    void reopen(std::int32_t baud_rate = 38400);

    pty_pair pty;
    imutap::serial_port port;

  private:
    void close_both();
};
