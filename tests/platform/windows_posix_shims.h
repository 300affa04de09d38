// POSIX calls that the test sources use and MinGW lacks, for the Windows
// build of the tests: every C++ test source includes this header first.
#pragma once

#include <stdlib.h>

// setenv and unsetenv change the process environment that the library reads
// with GetEnvironmentVariableW; _putenv_s updates it and the C runtime's copy.
inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name) != nullptr) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;
}
