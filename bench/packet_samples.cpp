#include "packet_samples.h"

#include "motion.h"
#include "packet_builder.h"

packet_samples make_packet_samples(char mode, std::size_t count)
{
    packet_samples samples;
    samples.mode = mode;
    samples.length = static_cast<std::uint32_t>(imutap_emu::packet_length(mode));
    samples.count = count;
    samples.bytes.resize(count * samples.length);
    for (std::size_t i = 0; i < count; ++i)
        imutap_emu::build_packet(mode, imutap_emu::sample_at(i), static_cast<std::uint16_t>(i),
                                 samples.bytes.data() + i * samples.length);
    return samples;
}
