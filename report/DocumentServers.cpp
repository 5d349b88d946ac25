#include "DocumentServers.h"

#include "report/BuiltInWriter.h"
#ifdef VELMORA_HAVE_LIBREOFFICE
#include "report/LibreOfficeWriter.h"
#endif

namespace velmora {

void RegisterDocumentServers(TServerRegistry& registry) {
    RegisterBuiltInWriter(registry);
#ifdef VELMORA_HAVE_LIBREOFFICE
    RegisterLibreOfficeWriter(registry);
#endif
}

}  // namespace velmora
