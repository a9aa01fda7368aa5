// Named kernel objects go with their last handle: nothing to keep aside.
#include "support/RuntimeFolder.h"

namespace testsupport {

struct PrivateRuntimeFolder::State {};

PrivateRuntimeFolder::PrivateRuntimeFolder() = default;
PrivateRuntimeFolder::~PrivateRuntimeFolder() = default;

}  // namespace testsupport
