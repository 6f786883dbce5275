// Runs a fuzz target once over each file of its corpus, without libFuzzer:
// the regression run of every build (g++ included). Arguments are files or
// folders (every regular file inside, sorted by name). A target that finds a
// fault aborts, and with it this program; otherwise the exit code is 0, or 1
// when a file could not be read or nothing was run at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool runFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's size, so that a read past its end is caught.
    std::vector<uint8_t> block(bytes.begin(), bytes.end());
    static uint8_t none = 0;  // an empty file still gets a valid pointer, as under libFuzzer
    LLVMFuzzerTestOneInput(block.empty() ? &none : block.data(), block.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            std::vector<fs::path> inside;
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file()) inside.push_back(entry.path());
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else {
            files.emplace_back(argv[i]);
        }
    }

    bool ok = !files.empty();
    for (const fs::path& file : files) ok = runFile(file) && ok;
    std::printf("%zu inputs run\n", files.size());
    return ok ? 0 : 1;
}
