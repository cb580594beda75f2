#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

std::string make_temp_dir(const std::string& prefix)
{
    std::string name = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(name.data()) == nullptr)
        return {};
    return name;
}

void remove_temp_dir(const std::string& path)
{
    if (!path.empty() && std::getenv("IMUTAP_KEEP_TEST_FILES") == nullptr) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}
