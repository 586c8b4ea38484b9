// A main for the fuzz targets where no libFuzzer is at hand (the g++ builds of
// CI): it runs LLVMFuzzerTestOneInput once over every file named on the command
// line and over every regular file of every folder named there (a corpus), in
// name order, each input in a buffer of exactly its size so that the sanitizers
// see a read one byte past it. libFuzzer-style flags (-name=value) are ignored,
// so a libFuzzer command line replays unchanged.
//
// Exit status: 0 when every input ran; 1 when a path cannot be read or no input
// was found at all (an empty or misnamed corpus must not pass as tested). A
// broken check or a sanitizer report aborts the process.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

extern "C" {
// The same stop-at-first-report behaviour as under libFuzzer.
const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
}

namespace fs = std::filesystem;

namespace {

bool RunFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // An exact-size copy on the heap: a read past the input is a heap overflow.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::size_t inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.size() > 1 && argument[0] == '-')
            continue;
        std::error_code error;
        if (fs::is_directory(argument, error)) {
            std::vector<fs::path> files;
            for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            }
            if (error) {
                std::fprintf(stderr, "cannot list %s: %s\n", argument.c_str(),
                             error.message().c_str());
                ok = false;
            }
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                ok = RunFile(file) && ok;
                ++inputs;
            }
        } else {
            ok = RunFile(argument) && ok;
            ++inputs;
        }
    }
    std::printf("%s: ran %zu inputs\n", argc > 0 ? argv[0] : "fuzz target", inputs);
    if (inputs == 0) {
        std::fprintf(stderr, "no inputs: name corpus folders or files\n");
        return 1;
    }
    return ok ? 0 : 1;
}
