// Fuzz seeds come from the files the tests themselves write: a test that has written a
// file of some reader's format calls SaveFuzzSeed with the fuzz target's name, and when
// the environment variable QSRF_FUZZ_SEEDS names a directory the file is copied to
// $QSRF_FUZZ_SEEDS/<target>/. Without the variable nothing happens.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace qsrf_fuzz {

inline void SaveFuzzSeed(const std::string& target, const std::string& writtenFile)
{
    const char* root = std::getenv("QSRF_FUZZ_SEEDS");
    if (!root || !*root)
        return;
    const std::string dir = std::string(root) + "/" + target;
    ::mkdir(root, 0755);
    ::mkdir(dir.c_str(), 0755);
    std::string base = writtenFile;
    if (const auto slash = base.rfind('/'); slash != std::string::npos)
        base = base.substr(slash + 1);
    std::ifstream in(writtenFile, std::ios::binary);
    if (!in)
        return;
    std::ofstream out(dir + "/" + base, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
}

}  // namespace qsrf_fuzz
