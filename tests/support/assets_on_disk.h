// The committed asset files, read for tests that want the real face and pictures.
#pragma once
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> readAsset(const std::string& name) {
    std::ifstream in(std::string(QUORBEL_SOURCE_DIR) + "/assets/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
