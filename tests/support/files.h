// Reading what a test's programs wrote.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The whole file; empty when there is none.
std::string read_file(const std::string& path);
// The text's lines without their '\n'; an unfinished last line shows as such.
std::vector<std::string> lines_of(const std::string& text);
// How often `part` occurs in `text`.
std::size_t occurrences(const std::string& text, const std::string& part);
// The end of a program's output, for a failure's message.
std::string end_of(const std::string& said);
// Waits until `path` is a symbolic link (the emulated unit's tty); false after
// `timeout_ms`.
bool wait_for_link(const std::string& path, int timeout_ms);
