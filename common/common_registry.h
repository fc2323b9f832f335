// The key-value registry object: an in-memory table of named keys that hold texts.
//
// A registry is a root object that holds keys. Key names compare without regard to case
// (ASCII letters) and are hashed into kCommonRegBuckets chained buckets. Each key holds no
// text until common_reg_set_str gives it a copy of one.
//
// Misuse and heap exhaustion are fatal: the routine writes an "Assert: ..." line through the
// common logger (source "common_registry", the routine's own name as function) and ends the
// process with exit code 1. Lookups of absent names are not misuse: they return nullptr.
//
// A registry is used from one thread at a time; it does not lock.
#pragma once

#include <cstddef>
#include <memory>

/// A registry or one of its keys. Opaque; the registry owns its keys.
struct CommonRegObject;

inline constexpr size_t kCommonRegBuckets = 8192;

/// Makes an empty registry.
/// Ownership: the caller owns it and frees it with common_reg_destroy_registry.
/// Fatal ("Assert: malloc failure. exit!!") when memory runs out.
CommonRegObject* common_reg_create_registry();

/// The key named name in registry, or nullptr when there is none (or an argument is absent, or
/// registry is not a registry). Valid until the registry is destroyed.
CommonRegObject* common_reg_find_key(CommonRegObject* registry, const char* name);

/// Adds a key named name (copied) to registry, holding no text, and returns it. When the name
/// is already there, the existing key is returned unchanged: a caller that wants the first
/// definition to win looks the name up first.
/// REQUIRES: registry is a registry object ("Assert: No space obj." otherwise, fatal).
/// Fatal ("Assert: malloc failure. exit!!") when memory runs out. An absent name counts as "".
CommonRegObject* common_reg_create_key(CommonRegObject* registry, const char* name);

/// Gives key a copy of text (an absent text counts as ""), replacing any text it held. 0.
/// REQUIRES: key is a key ("Assert: This obj is string!!" otherwise, fatal). Fatal ("Assert:
/// malloc failure. exit!!") when memory runs out.
int common_reg_set_str(CommonRegObject* key, const char* text);

/// The text that key holds, valid until the key's next common_reg_set_str or the destruction
/// of its registry.
/// REQUIRES: key is a key that holds a text ("Assert: This obj is string!!" otherwise, fatal).
const char* common_reg_get_str(CommonRegObject* key);

/// Frees registry with all its keys and texts. An absent registry is ignored.
/// REQUIRES: registry is a registry, not a key ("Assert: No root object." otherwise, fatal).
void common_reg_destroy_registry(CommonRegObject* registry);

/// The bucket of a name: starting from 0, h = (h * 243 + lower-case(byte)) mod 8192 for each
/// byte of the name.
size_t common_reg_bucket(const char* name);

/// Owns a registry and destroys it on destruction.
struct CommonRegDestroyer {
  void operator()(CommonRegObject* registry) const { common_reg_destroy_registry(registry); }
};
using UniqueCommonRegistry = std::unique_ptr<CommonRegObject, CommonRegDestroyer>;
