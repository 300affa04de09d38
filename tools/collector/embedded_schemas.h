// Schema documents embedded at build time (see embedded_schemas.cpp.in).
#pragma once

namespace Corvex::Tracking::Collector::EmbeddedSchemas {

// tools/collector/builtin_events.json: the shapes of the library's own events.
const char* builtinEvents();
// The draft-07 metaschema, from Debian's python3-jsonschema.
const char* draft7Metaschema();

}  // namespace Corvex::Tracking::Collector::EmbeddedSchemas
