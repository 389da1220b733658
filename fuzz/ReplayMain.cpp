// The main a fuzz target gets when it is built without libFuzzer (any compiler):
// it runs the target once on each input it is given, without mutating any, so
// that the seed corpus, and whatever a fuzzing run found, can be replayed by the
// tests and under the sanitizers of any build.
//
//   fuzz_TARGET PATH...   each PATH a file, or a folder whose files are all run
//
// Exits 0 when every input ran through and there was at least one: a corpus that
// went missing must not pass for one without faults. A broken promise of the
// target ends the run as under libFuzzer (abort), after the input's name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Only some targets set up the process first; the others leave this null.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Absolute, and found before the target's set-up runs: that may change the
// working directory. Sorted, so that every replay takes the same order.
bool CollectInputs(const char* arg, std::vector<fs::path>& inputs) {
    std::error_code ec;
    const fs::path path = fs::absolute(arg, ec).lexically_normal();
    if (ec || !fs::exists(path, ec)) {
        std::fprintf(stderr, "no such file or folder: %s\n", arg);
        return false;
    }
    if (!fs::is_directory(path, ec)) {
        inputs.push_back(path);
        return true;
    }
    std::vector<fs::path> found;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file(ec)) found.push_back(it->path());
    }
    if (ec) {
        std::fprintf(stderr, "cannot read the folder %s: %s\n", arg, ec.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

// In a buffer of exactly the input's size, as libFuzzer hands it over, so that
// AddressSanitizer catches a read one byte past its end.
bool RunInput(const fs::path& path) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    const auto data = std::make_unique<std::uint8_t[]>(ec ? 0 : size);
    if (ec || !in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size))) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "Running: %s (%ju bytes)\n", path.c_str(), size);
    LLVMFuzzerTestOneInput(data.get(), size);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!CollectInputs(argv[i], inputs)) return 1;
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs found: nothing was replayed\n");
        return 1;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& input : inputs) {
        if (!RunInput(input)) return 1;
    }
    std::printf("%zu inputs replayed without a fault\n", inputs.size());
    return 0;
}
