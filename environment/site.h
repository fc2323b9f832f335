// Site identity: the spool directory and the local machine name.
#pragma once

#include <cstdio>

/// Makes stream the message stream of the site routines and builds the spool directory
/// (<sitedb>/spool) into the process-wide spool buffer. Returns 0.
int svlib_InitSpoolDir(FILE* stream);

/// Reads the local machine name from <spool>/nmap/localinfo into out (1024 bytes). 0, or -1
/// after a message on the message stream; out is left empty on failure.
int svlib_GetLocalMachine(char* out);
