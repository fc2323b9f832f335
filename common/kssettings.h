// The product's settings in the registry, under the product key: the language id and what it
// decides, and 32-bit and text values. A leaf: it knows nothing of the installation's site,
// so that every layer above the platform may read settings.
#pragma once

#include <cstdint>
#include <string>

/// The command's copy of the language id (0, 1 or 2), set at start-up from KSGetLanguageId.
/// It decides which bytes lead a two-byte character for the word splitter and path checks.
extern int g_language_id;

/// Whether c is the first byte of a two-byte character under language_id (1 or 2; no byte
/// leads one under any other id).
bool IsLeadByte(unsigned char c, int language_id);

/// Language id 0, 1 or 2, or -1 when the registry cannot be read. Pauses through the platform.
int KSGetLanguageId();

/// A 32-bit value under HKEY_LOCAL_MACHINE\<keypath>, or 0xFFFFFFFF when it cannot be read.
uint32_t KSRegGetDword(const char* keypath, const char* value);

/// A text value under HKEY_LOCAL_MACHINE\<keypath> into *text. The system error code: 0, or
/// why the key or the value could not be read.
uint32_t KSRegGetString(const char* keypath, const char* value, std::string* text);
