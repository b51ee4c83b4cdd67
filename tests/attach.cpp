// A test program links the library's code: it attaches the library's state
// at start, as the loader does for the DLL.
#include "support/process.h"

namespace {
const bool kAttached = (xProcessAttach(GetModuleHandleA(nullptr)), true);
}
