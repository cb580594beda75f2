// A test fixture with a fresh unit session for each test: a temporary
// directory, and the emulated unit and the logger as the test starts them.
#pragma once

#include "unit_session.h"

#include <gtest/gtest.h>

class session_test : public testing::Test {
  protected:
    void SetUp() override
    {
        begin_session(s);
    }
    void TearDown() override
    {
        end_session(s);
    }

    unit_session s;
};
