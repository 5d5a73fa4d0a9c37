// A main for the fuzz targets without libFuzzer, so that any compiler builds them and CI
// replays their corpora on every run: each file named, or found under a folder named, on
// the command line goes to LLVMFuzzerTestOneInput, and once more after one pass of the
// target's custom mutator if it has one. A missing folder counts as empty; no file at
// all fails, so that a corpus cannot silently go missing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                                                     std::size_t maxSize, unsigned int seed);

// libFuzzer's own mutation, which custom mutators start from: here one fixed byte change,
// so that every replay is the same.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize) {
    if (size == 0 && maxSize > 0) data[size++] = '0';
    if (size > 0) data[size / 2] ^= 0x20;
    return size;
}

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i)
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (std::filesystem::exists(argv[i])) {
            files.emplace_back(argv[i]);
        }
    std::sort(files.begin(), files.end());
    unsigned seed = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
        // A copy of the input's own size, so that AddressSanitizer sees a read past its end.
        LLVMFuzzerTestOneInput(std::vector<std::uint8_t>(bytes).data(), bytes.size());
        if (!LLVMFuzzerCustomMutator) continue;
        const std::size_t size = bytes.size();
        bytes.resize(size + 1024);
        bytes.resize(LLVMFuzzerCustomMutator(bytes.data(), size, bytes.size(), ++seed));
        LLVMFuzzerTestOneInput(std::vector<std::uint8_t>(bytes).data(), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return files.empty() ? 1 : 0;
}
