#pragma once

namespace quorvane::platform::linux_backend {

// A shared library opened at run time and never closed, or null when it
// cannot be opened.
void* openSharedLibrary(const char* soname);

// The address of `name` in `library`, or null.
void* librarySymbol(void* library, const char* name);

// Points `function` at the symbol `name` of `library`; false when it is missing.
template <typename Function>
bool bindFunction(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(librarySymbol(library, name));
  return function != nullptr;
}

}  // namespace quorvane::platform::linux_backend
