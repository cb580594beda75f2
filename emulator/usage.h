#pragma once

#include <cstdio>

void print_usage(std::FILE* out);
