// The settings file: any bytes are read as far as they are readable, and what was read is
// stored again as a file that reads back as the same tree.
#include "fuzzinput.h"
#include "registry.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace qsrf::registry;
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    // Loading the file through the backend: the reader of the program itself.
    FileBackend backend(path);
    (void)backend.LoadProblem();
    std::remove((path + ".bad").c_str());

    // What was read serialises to a text that parses back without errors to the same text.
    std::vector<std::string> errors;
    const auto tree = ParseTree(std::string(reinterpret_cast<const char*>(data), size), errors);
    const std::string text = SerializeTree(*tree);
    std::vector<std::string> again;
    const auto reread = ParseTree(text, again);
    if (!again.empty() || SerializeTree(*reread) != text) {
        std::fprintf(stderr, "the stored settings do not read back: %s\n",
                     again.empty() ? "another tree" : again.front().c_str());
        std::abort();
    }
    return 0;
}
