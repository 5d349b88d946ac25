// The module of the built-in document writer.

#include "report/BuiltInWriter.h"
#include "report/ServerModule.h"

extern "C" velmora::HRESULT VELMORA_SERVER_MODULE_ENTRY(velmora::TServerRegistry* registry,
                                                        velmora::TServerFactory* factory) {
    if (registry == nullptr || factory == nullptr) {
        return velmora::E_POINTER;
    }
    *factory = velmora::BuiltInWriterFactory(*registry);
    return velmora::S_OK;
}
