// The C++ header as a host's source includes it, built with the options the
// CMakeLists gives (-pedantic, -fno-exceptions, <windows.h> before it). Run,
// it checks what needs no service: a returned text is read and released, and
// a manager without a handle does nothing.
#include <corvex/tracking.hpp>

#if !defined(_WINDOWS_) && (defined(min) || defined(max))
#error "corvex/tracking.hpp defines min or max"
#endif

#if defined(_WIN32)
#include <windows.h>  // after it: the declarations the header makes must agree
#endif

int main() {
    corvex::TrackingManager none;
    none.trackLevelStart(1, "nowhere");
    const bool inert = !none && none.userId().empty();
#if defined(_WIN32)
    // The header releases texts with this free(); without it they would leak.
    if (GetProcAddress(GetModuleHandleW(L"ucrtbase.dll"), "free") == nullptr) return 1;
#endif
    return corvex::TrackingManager::version() == "0.0.1-cpp" && inert ? 0 : 1;
}
