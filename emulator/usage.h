// The emulator's help text (-h).
#pragma once

#include <cstdio>

namespace imutap_emu {

void print_usage(std::FILE* out);

} // namespace imutap_emu
