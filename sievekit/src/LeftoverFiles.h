#pragma once

#include <string>

namespace sievekit {

// Removes what interrupted saves left in `folder` (not its sub-folders): the
// temporary files of WriteFileAtomically, "<file>.tmp.<pid>.<n>" for a list
// or settings file (".txt", ".ini"), whose process no longer runs. A save in
// progress in another program keeps its file; nothing else is touched.
// Errors are ignored: a leftover only costs disk space.
void RemoveLeftoverTemporaryFiles(const std::string& folder);

}  // namespace sievekit
