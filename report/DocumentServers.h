#pragma once

namespace velmora {

class TServerRegistry;

// Registers the program's document servers, in the order of preference from last to first:
// the built-in document writer first, so that any server registered after it (one that drives
// an installed office suite) is asked before it and it stands in when that one fails.
void RegisterDocumentServers(TServerRegistry& registry);

}  // namespace velmora
