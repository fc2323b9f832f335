#include "common/common_registry.h"

#include <cstdint>
#include <cstdlib>
#include <forward_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/lwlog.h"
#include "common/test_hooks.h"
#include "platform/textcase.h"

enum class CommonRegKind { kRegistry, kKey };

struct CommonRegObject {
  CommonRegKind kind = CommonRegKind::kKey;
  std::string name;
  std::optional<std::string> text;
  // Registry only: kCommonRegBuckets chains of keys. A forward_list keeps each key at a fixed
  // address for the registry's lifetime and frees a long chain without recursion.
  std::vector<std::forward_list<CommonRegObject>> buckets;
};

namespace {

constexpr const char kSource[] = "common_registry";
constexpr const char kMallocFailure[] = "Assert: malloc failure. exit!!";
constexpr uint32_t kHashMultiplier = 243;

int allocations_left = -1;

// Every allocation goes through here first, so that the test seam can exhaust the heap.
void CheckAllocation() {
  if (allocations_left < 0) return;
  if (allocations_left == 0) throw std::bad_alloc();
  --allocations_left;
}

[[noreturn]] void Fatal(int line, const char* function, const char* message) {
  common_logger(kSource, line, function, kLogErr, "%s", message);
  std::exit(1);
}

bool IsRegistry(const CommonRegObject* object) {
  return object != nullptr && object->kind == CommonRegKind::kRegistry;
}

}  // namespace

size_t common_reg_bucket(const char* name) {
  uint32_t h = 0;
  if (name == nullptr) return 0;
  for (const char* p = name; *p != '\0'; ++p) {
    h = (h * kHashMultiplier + static_cast<unsigned char>(platform::FoldCase(*p))) %
        kCommonRegBuckets;
  }
  return h;
}

CommonRegObject* common_reg_create_registry() {
  try {
    CheckAllocation();
    auto registry = std::make_unique<CommonRegObject>();
    registry->kind = CommonRegKind::kRegistry;
    registry->buckets.resize(kCommonRegBuckets);
    // The caller owns the registry from here until common_reg_destroy_registry.
    return registry.release();
  } catch (const std::bad_alloc&) {
    Fatal(__LINE__, "common_reg_create_registry", kMallocFailure);
  }
}

CommonRegObject* common_reg_find_key(CommonRegObject* registry, const char* name) {
  if (!IsRegistry(registry) || name == nullptr) return nullptr;
  for (CommonRegObject& key : registry->buckets[common_reg_bucket(name)]) {
    if (platform::EqualIgnoringCase(key.name, name)) return &key;
  }
  return nullptr;
}

CommonRegObject* common_reg_create_key(CommonRegObject* registry, const char* name) {
  if (!IsRegistry(registry)) Fatal(__LINE__, "common_reg_create_key", "Assert: No space obj.");
  if (name == nullptr) name = "";
  if (CommonRegObject* existing = common_reg_find_key(registry, name)) return existing;
  try {
    CheckAllocation();
    std::string copy(name);
    CommonRegObject& key = registry->buckets[common_reg_bucket(name)].emplace_front();
    key.name = std::move(copy);
    return &key;
  } catch (const std::bad_alloc&) {
    Fatal(__LINE__, "common_reg_create_key", kMallocFailure);
  }
}

int common_reg_set_str(CommonRegObject* key, const char* text) {
  // Only a key holds a text; anything else is the same misuse as reading one from it.
  if (key == nullptr || key->kind != CommonRegKind::kKey) {
    Fatal(__LINE__, "common_reg_set_str", "Assert: This obj is string!!");
  }
  try {
    CheckAllocation();
    key->text.emplace(text != nullptr ? text : "");
  } catch (const std::bad_alloc&) {
    Fatal(__LINE__, "common_reg_set_str", kMallocFailure);
  }
  return 0;
}

const char* common_reg_get_str(CommonRegObject* key) {
  if (key == nullptr || key->kind != CommonRegKind::kKey || !key->text) {
    Fatal(__LINE__, "common_reg_get_str", "Assert: This obj is string!!");
  }
  return key->text->c_str();
}

void common_reg_destroy_registry(CommonRegObject* registry) {
  if (registry == nullptr) return;
  if (!IsRegistry(registry)) {
    Fatal(__LINE__, "common_reg_destroy_registry", "Assert: No root object.");
  }
  // Takes back the ownership handed out by common_reg_create_registry.
  std::unique_ptr<CommonRegObject> owned(registry);
}

void CommonRegFailAllocationsAfterForTest(int allocations) { allocations_left = allocations; }
