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
// one folder. On Windows the move cannot replace a file while anybody holds
// it open, so it waits for readers to close it (up to two seconds, then
// fails); on POSIX readers never stand in the way.
bool ReplaceFileWith(const std::string& target, const std::string& temporary, std::string_view bytes);

// Reads the whole of a file into `bytes`, holding it open only for the
// read. The file stays free to be written, renamed or deleted by others
// meanwhile (on Windows it is opened shared for reading, writing and
// deletion). False, with `bytes` empty, when the file cannot be opened or
// read (a folder included).
bool ReadWholeFile(const std::string& path, std::string& bytes);

// The number the OS knows this process by, for names of temporary files.
unsigned long CurrentProcessNumber();

}  // namespace platform
