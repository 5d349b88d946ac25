#include "DocumentServers.h"

#include "report/BuiltInWriter.h"

namespace velmora {

void RegisterDocumentServers(TServerRegistry& registry) {
    RegisterBuiltInWriter(registry);
}

}  // namespace velmora
