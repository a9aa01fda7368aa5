#pragma once

#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes. With enter=true the process's working
// directory moves into it for the object's life (the programs resolve
// "Data/..." against the working directory).
class TempFolder {
public:
    explicit TempFolder(bool enter = false);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    // Writes a file (folders created as needed), bytes exactly as given.
    void Write(const std::string& relative, const std::string& content) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

private:
    std::string path_;
    std::string previousDir_;
};

}  // namespace testsupport
