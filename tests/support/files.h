// Reading what a test's programs wrote.
#pragma once

#include <string>
#include <vector>

// The whole file; empty when there is none.
std::string read_file(const std::string& path);
// The text's lines without their '\n'; an unfinished last line shows as such.
std::vector<std::string> lines_of(const std::string& text);
