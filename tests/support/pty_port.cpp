#include "pty_port.h"

void pty_port::SetUp()
{
    reopen();
}

void pty_port::TearDown()
{
    close_both();
}

void pty_port::close_both()
{
    if (port.open)
        imutap::close_port(port);
    close_pty_pair(pty);
}

void pty_port::reopen(std::int32_t baud_rate)
{
    close_both();
    pty = open_pty_pair();
    imutap::port_choice choice;
    choice.path = pty.slave_path.c_str();
    choice.baud_rate = baud_rate;
    imutap::port_failure failure;
    ASSERT_TRUE(imutap::open_port(choice, port, failure))
        << pty.slave_path << ": step " << static_cast<int>(failure.step) << ", error "
        << failure.error;
}
