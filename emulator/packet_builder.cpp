#include "packet_builder.h"

#include <cstring>

namespace {

constexpr size_t angle_length = 30;
constexpr size_t sensor_length = 24;

uint8_t* put_field(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value & 0xFF);
    return at + 2;
}

uint8_t* put_triads(uint8_t* at, const raw_sample& sample)
{
    for (int16_t v : sample.gyro)
        at = put_field(at, uint16_t(v));
    for (int16_t v : sample.accel)
        at = put_field(at, uint16_t(v));
    for (int16_t v : sample.mag)
        at = put_field(at, uint16_t(v));
    return at;
}

} // namespace

size_t packet_length(char mode)
{
    return mode == 'a' ? angle_length : sensor_length;
}

uint8_t packet_checksum(const uint8_t* packet, size_t length)
{
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < length; ++i)
        sum += packet[i];
    return uint8_t(sum & 0xFF);
}

size_t build_packet(char mode, const raw_sample& sample, uint16_t counter, uint8_t* out)
{
    uint8_t* at = out;
    *at++ = header_byte;
    if (mode == 'a') {
        at = put_field(at, uint16_t(sample.roll));
        at = put_field(at, uint16_t(sample.pitch));
        at = put_field(at, uint16_t(sample.yaw));
        at = put_triads(at, sample);
    } else if (mode == 'r') {
        for (uint16_t v : sample.channels)
            at = put_field(at, v);
    } else {
        at = put_triads(at, sample);
    }
    at = put_field(at, sample.temperature);
    at = put_field(at, counter);
    size_t length = size_t(at - out) + 1;
    *at = packet_checksum(out, length);
    return length;
}

void spoil_header(uint8_t* packet)
{
    packet[0] = 0x00;
}

void spoil_checksum(uint8_t* packet, size_t length)
{
    packet[length - 1] = uint8_t(packet[length - 1] + 1);
}

size_t drop_data_byte(uint8_t* packet, size_t length)
{
    std::memmove(packet + dropped_byte_offset, packet + dropped_byte_offset + 1,
                 length - dropped_byte_offset - 1);
    return length - 1;
}
