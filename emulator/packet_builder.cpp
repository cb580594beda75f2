// Laying out packets, their checksum and their faults.
#include "packet_builder.h"

#include <cstring>

namespace imutap_emu {

namespace {

constexpr std::size_t angle_length = 30;
constexpr std::size_t sensor_length = 24;

std::uint8_t* put_field(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value & 0xFF);
    return at + 2;
}

std::uint8_t* put_triads(std::uint8_t* at, const raw_sample& sample)
{
    for (std::int16_t v : sample.gyro)
        at = put_field(at, static_cast<std::uint16_t>(v));
    for (std::int16_t v : sample.accel)
        at = put_field(at, static_cast<std::uint16_t>(v));
    for (std::int16_t v : sample.mag)
        at = put_field(at, static_cast<std::uint16_t>(v));
    return at;
}

} // namespace

std::size_t packet_length(char mode)
{
    return mode == 'a' ? angle_length : sensor_length;
}

std::uint8_t packet_checksum(const std::uint8_t* packet, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < length; ++i)
        sum += packet[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::size_t build_packet(char mode, const raw_sample& sample, std::uint16_t counter,
                         std::uint8_t* out)
{
    std::uint8_t* at = out;
    *at++ = header_byte;
    if (mode == 'a') {
        at = put_field(at, static_cast<std::uint16_t>(sample.roll));
        at = put_field(at, static_cast<std::uint16_t>(sample.pitch));
        at = put_field(at, static_cast<std::uint16_t>(sample.yaw));
        at = put_triads(at, sample);
    } else if (mode == 'r') {
        for (std::uint16_t v : sample.channels)
            at = put_field(at, v);
    } else {
        at = put_triads(at, sample);
    }
    at = put_field(at, sample.temperature);
    at = put_field(at, counter);
    std::size_t length = static_cast<std::size_t>(at - out) + 1;
    *at = packet_checksum(out, length);
    return length;
}

void spoil_header(std::uint8_t* packet)
{
    packet[0] = 0x00;
}

void spoil_checksum(std::uint8_t* packet, std::size_t length)
{
    packet[length - 1] = static_cast<std::uint8_t>(packet[length - 1] + 1);
}

std::size_t drop_data_byte(std::uint8_t* packet, std::size_t length)
{
    std::memmove(packet + dropped_byte_offset, packet + dropped_byte_offset + 1,
                 length - dropped_byte_offset - 1);
    return length - 1;
}

} // namespace imutap_emu
