#include "platform/linux/process/shared_library.h"

#include <dlfcn.h>

namespace quorvane::platform::linux_backend {

void* openSharedLibrary(const char* soname) {
  // Bound at once, so a missing symbol shows here and not as a crash later.
  return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(void* library, const char* name) {
  return library == nullptr ? nullptr : ::dlsym(library, name);
}

}  // namespace quorvane::platform::linux_backend
