// The module of the LibreOffice Writer server.

#include "report/LibreOfficeWriter.h"
#include "report/ServerModule.h"

extern "C" velmora::HRESULT VELMORA_SERVER_MODULE_ENTRY(velmora::TServerRegistry* registry,
                                                        velmora::TServerFactory* factory) {
    if (registry == nullptr || factory == nullptr) {
        return velmora::E_POINTER;
    }
    *factory = velmora::LibreOfficeWriterFactory(*registry, velmora::DefaultLibreOfficeOptions());
    return velmora::S_OK;
}
