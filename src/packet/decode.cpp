#include "packet/decode.h"

#include "packet/layout.h"

namespace imutap {

namespace {

// The three fields of a triad from `field` on: voltages where the layout
// has them, else scaled by each field's range. Returns the position after
// them.
inline const std::uint8_t* decode_triad(const packet_layout& layout, const std::uint8_t* field,
                                        const double* ranges, double (&triad)[3])
{
    if (layout.voltages) {
        for (int i = 0; i < 3; ++i, field += 2)
            triad[i] = channel_value(raw_unsigned(field));
    } else {
        for (int i = 0; i < 3; ++i, field += 2)
            triad[i] = scaled_value(raw_signed(field), ranges[i]);
    }
    return field;
}

} // namespace

decoded_packet decode_packet(char mode, const std::uint8_t* bytes)
{
    const packet_layout& layout = packet_layout_of(mode);
    decoded_packet out;
    const std::uint8_t* field = bytes + 1;
    if (layout.angles) {
        out.roll = angle_value(raw_signed(field));
        out.pitch = angle_value(raw_signed(field + 2));
        out.yaw = angle_value(raw_signed(field + 4));
        field += 6;
    }
    field = decode_triad(layout, field, sensor_ranges, out.gyro);
    field = decode_triad(layout, field, sensor_ranges + 3, out.accel);
    field = decode_triad(layout, field, sensor_ranges + 6, out.mag);
    out.temperature = temperature_value(raw_unsigned(field));
    out.counter = raw_unsigned(field + 2);
    return out;
}

} // namespace imutap
