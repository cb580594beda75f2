// Temporary directories for the tests. IMUTAP_KEEP_TEST_FILES in the
// environment keeps them, to look at after a failure.
#pragma once

#include <string>

// A new empty directory in the system's temporary folder, its name starting
// with `prefix`; empty when none could be made.
std::string make_temp_dir(const std::string& prefix);
void remove_temp_dir(const std::string& path);

// A temporary directory for as long as the object lives.
class temp_dir {
  public:
    explicit temp_dir(const std::string& prefix) : path(make_temp_dir(prefix)) {}
    ~temp_dir()
    {
        remove_temp_dir(path);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string path;
};
