// The code page of the installation: the one in which the tools' text that is not UTF-8 is read.
#pragma once

#include <cstdint>

/// The code page of the installation, read once at start-up: the registry string KSCodePage when
/// it is set and names a code page that the system knows (a Windows code page number, "932");
/// else the system's ANSI code page where there is one (Windows); else by language_id: 932 for 2,
/// 936 for 1, 1252 for any other.
uint32_t InstallationCodePage(int language_id);
