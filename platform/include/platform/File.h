#pragma once

#include <string>
#include <string_view>

namespace platform {

// Replaces the content of `target` in one step: the bytes go to `temporary`
// (created anew: a file already there is never opened), are flushed to the
// disk, and the temporary file is then moved over the target, replacing it
// when it exists. A reader sees the old file or the new one whole; a crash
// leaves at most the temporary file behind. False on any failure, with the
// target untouched and the temporary file removed. Both names should lie in
// one folder.
bool ReplaceFileWith(const std::string& target, const std::string& temporary, std::string_view bytes);

// The number the OS knows this process by, for names of temporary files.
unsigned long CurrentProcessNumber();

}  // namespace platform
