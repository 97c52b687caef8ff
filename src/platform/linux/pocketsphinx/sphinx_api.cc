#include "platform/linux/pocketsphinx/sphinx_api.h"

#include "platform/linux/process/shared_library.h"

namespace quorvane::platform::linux_backend {
namespace {

const SphinxApi* loadSphinxApi() {
  void* sphinxbase = openSharedLibrary("libsphinxbase.so.3");
  void* pocketsphinx = openSharedLibrary("libpocketsphinx.so.3");
  if (sphinxbase == nullptr || pocketsphinx == nullptr) return nullptr;
  auto* api = new SphinxApi;  // Kept for the life of the process.
  bool complete = true;
#define QUORVANE_BIND_SPHINXBASE(name) \
  complete = bindFunction(sphinxbase, #name, api->name) && complete;
#define QUORVANE_BIND_POCKETSPHINX(name) \
  complete = bindFunction(pocketsphinx, #name, api->name) && complete;
  QUORVANE_SPHINXBASE_FUNCTIONS(QUORVANE_BIND_SPHINXBASE)
  QUORVANE_POCKETSPHINX_FUNCTIONS(QUORVANE_BIND_POCKETSPHINX)
#undef QUORVANE_BIND_SPHINXBASE
#undef QUORVANE_BIND_POCKETSPHINX
  if (!complete) {
    delete api;
    return nullptr;
  }
  api->err_set_logfp(nullptr);
  return api;
}

}  // namespace

const SphinxApi* sphinxApi() {
  static const SphinxApi* const api = loadSphinxApi();
  return api;
}

}  // namespace quorvane::platform::linux_backend
