// Facts about the machine and random ids that the manager reports.
#pragma once

#include <string>

namespace Corvex::Tracking {

// The OS product name ("Windows 10", "Linux"); "" when the query fails.
std::string describePlatform();
// The OS version text, "major.minor (Build N)"; "" when the query fails.
std::string describeOsVersion();
// A new random version-4 UUID text: 36 lower-case characters. Safe to call
// from any thread.
std::string makeUuid();
// The same, written over `out` so that its buffer is reused.
void makeUuid(std::string& out);
// The machine's local IPv4 address in dotted decimal, or "".
std::string localIpAddress();

}  // namespace Corvex::Tracking
