#include "packet/decode.h"

decoded_packet decode_packet(char mode, const std::uint8_t* bytes)
{
    decoded_packet out;
    const std::uint8_t* field = bytes + 1;
    if (mode == 'a') {
        out.roll = angle_value(raw_signed(field));
        out.pitch = angle_value(raw_signed(field + 2));
        out.yaw = angle_value(raw_signed(field + 4));
        field += 6;
    }

    double* triads[9] = {&out.gyro[0],  &out.gyro[1],  &out.gyro[2],
                         &out.accel[0], &out.accel[1], &out.accel[2],
                         &out.mag[0],   &out.mag[1],   &out.mag[2]};
    for (int i = 0; i < 9; ++i, field += 2) {
        if (mode == 'r')
            *triads[i] = channel_value(raw_unsigned(field));
        else
            *triads[i] = scaled_value(raw_signed(field), sensor_ranges[i]);
    }

    out.temperature = temperature_value(raw_unsigned(field));
    out.counter = raw_unsigned(field + 2);
    return out;
}
