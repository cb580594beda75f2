#include "output/display.h"

#include "output/console.h"
#include "output/format.h"
#include "packet/decode.h"
#include "packet/layout.h"

namespace imutap {

static char* put_column(char* at, double value, int width)
{
    at = put_fixed_width(at, value, width, 2);
    *at++ = ' ';
    return at;
}

std::size_t format_display_line(char* line, char mode, const std::uint8_t* packet)
{
    const decoded_packet values = decode_packet(mode, packet);
    char* at = line;
    if (packet_layout_of(mode).angles) {
        at = put_column(at, values.roll, 7);
        at = put_column(at, values.pitch, 7);
        at = put_column(at, values.yaw, 7);
    }
    for (double v : values.gyro)
        at = put_column(at, v, 7);
    for (double v : values.accel)
        at = put_column(at, v, 7);
    for (double v : values.mag)
        at = put_column(at, v, 7);
    at = put_column(at, values.temperature, 8);
    *at++ = '\r';
    return static_cast<std::size_t>(at - line);
}

void show_packet(char mode, const std::uint8_t* packet)
{
    // Decoded values never outgrow their columns, but the buffer also holds
    // a column that would, so nothing can run past it.
    char line[display_line_capacity + longest_number];
    const std::size_t length = format_display_line(line, mode, packet);
    console_show(line, length);
}

} // namespace imutap
