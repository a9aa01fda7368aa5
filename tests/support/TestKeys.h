#pragma once

#include <memory>
#include <string>

namespace testsupport {

// Registry keys of a test's own under HKEY_CURRENT_USER, removed with the
// object: on Windows written with the system's reg.exe under a key named for
// this object; on POSIX folders of the registry stand-in, whose root moves
// into a temporary folder for the object's life. Paths are written with
// backslashes.
class TestKeys {
public:
    TestKeys();
    ~TestKeys();
    TestKeys(const TestKeys&) = delete;
    TestKeys& operator=(const TestKeys&) = delete;

    // The key everything below lives under, as a path under HKEY_CURRENT_USER.
    const std::string& Root() const { return root_; }
    // Creates Root()\relative and the keys above it; false on failure.
    bool Create(const std::string& relative) const;
    // Sets a string value of Root()\relative, creating the key; false on failure.
    bool SetString(const std::string& relative, const std::string& name, const std::string& value) const;

    struct State;

private:
    std::string root_;
    std::unique_ptr<State> state_;
};

}  // namespace testsupport
