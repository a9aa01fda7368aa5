#pragma once

// Helpers shared by the fuzz targets: a scratch working folder for the
// loaders that read "Data/..." relative to the working directory, and a
// check that stops the run when an invariant fails.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include <sievekit/CWordFilter.h>

#include "filter/WordFilterPair.h"

namespace fuzzsupport {

// Makes a fresh folder with a Data/ subfolder under $TMPDIR (or /tmp) and
// moves the process into it. The folder is left behind on exit; it holds a
// few small files.
inline void EnterScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0 || mkdir("Data", 0700) != 0) {
        std::perror("fuzz scratch folder");
        std::abort();
    }
}

inline void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::perror(name.c_str());
        std::abort();
    }
}

#ifdef MORVANE_DATA_DIR
// Fills the scratch folder's Data/ with the shipped lists, pages and
// configuration, as a fresh installation has them.
inline void CopyShippedData() {
    std::error_code ec;
    std::filesystem::copy(MORVANE_DATA_DIR, "Data",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        std::fprintf(stderr, "copying %s: %s\n", MORVANE_DATA_DIR, ec.message().c_str());
        std::abort();
    }
}

// A working folder with the shipped data plus the user's block words
// userWords (one a line), loaded into a block and an exempt filter that live
// for the whole run.
inline WordFilterPair* EnterFolderWithWordFilters(const std::string& userWords) {
    EnterScratchFolder();
    CopyShippedData();
    WriteFile("Data/user_block_words.txt", userWords);
    auto* block = new CWordFilter(1);
    auto* exempt = new CWordFilter(0);
    block->ReloadData(true);
    exempt->ReloadData(true);
    return new WordFilterPair{block, exempt};
}
#endif

}  // namespace fuzzsupport

// An invariant of the code under test; a failure is a finding.
#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #cond, __FILE__, \
                         __LINE__);                                                   \
            std::abort();                                                             \
        }                                                                             \
    } while (0)
