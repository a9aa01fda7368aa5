#pragma once

#include <string>
#include <map>

#include "HttpFixture.h"
#include "support/TempFolder.h"

namespace updatertest {

// Makes a 7-Zip archive with the real 7-Zip program from files given by
// their path inside the archive; returns its bytes (empty on failure).
std::string MakeArchive(const std::map<std::string, std::string>& files);

// Writes Data/config.ini pointing the updater at the fixture.
void WriteUpdateConfig(const testsupport::TempFolder& folder, const HttpFixture& server);

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// Reads a whole file; empty when it is missing.
std::string ReadFile(const std::string& path);

}  // namespace updatertest
