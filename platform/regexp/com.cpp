#include "platform/regexp/com.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>


namespace qelvaro::platform {
namespace {

thread_local int apartmentCount = 0;

struct Registration {
  std::u16string progId;
  ObjectFactory factory;
};

struct Registry {
  std::mutex mutex;
  std::vector<Registration> entries;

  Registry() { entries.push_back({u"VBScript.RegExp", [] { return NewRegExpObject(); }}); }

  std::vector<Registration>::iterator Find(std::u16string_view progId) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (SameMemberName(it->progId, progId)) return it;
    }
    return entries.end();
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

HRESULT CoInitialize(void* /*reserved*/) { return apartmentCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (apartmentCount > 0) --apartmentCount;
}

int CoInitializeCount() { return apartmentCount; }

DispatchPtr CreateObject(std::u16string_view progId) {
  ObjectFactory factory;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.Find(progId);
    if (it == registry.entries.end()) return nullptr;
    factory = it->factory;
  }
  return factory();
}

bool RegisterProgId(std::u16string_view progId, ObjectFactory factory) {
  if (progId.empty() || !factory) return false;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.Find(progId);
  if (it != registry.entries.end()) {
    it->factory = std::move(factory);
  } else {
    registry.entries.push_back({std::u16string(progId), std::move(factory)});
  }
  return true;
}

bool UnregisterProgId(std::u16string_view progId) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.Find(progId);
  if (it == registry.entries.end()) return false;
  registry.entries.erase(it);
  return true;
}

}  // namespace qelvaro::platform
