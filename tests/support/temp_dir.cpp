#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdlib.h>

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rxb540-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "";
    }
    return pattern;
}

void RemoveTree(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void WriteTextFile(const std::string &path, const std::string &text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

std::string ReadTextFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}
