#pragma once

// What a document server module and the program that loads it agree on. A module is a shared
// object in the program's library folder that exports one function, kServerModuleEntry, of type
// TServerModuleEntry: it hands out the factory of its server for the given registry.
//
// A module is built with the program from the same sources and resolves the program's own
// symbols (the registry, the framework) against the program that loads it; the entry's name
// carries the version of this agreement, so that a module of another build is not called.

#include "report/ServerRegistry.h"

#define VELMORA_SERVER_MODULE_ENTRY velmora_server_module_1

namespace velmora {

using TServerModuleEntry = HRESULT(TServerRegistry* registry, TServerFactory* factory);

inline constexpr char kServerModuleEntry[] = "velmora_server_module_1";

}  // namespace velmora

// Defined by each module.
extern "C" __attribute__((visibility("default"))) velmora::HRESULT VELMORA_SERVER_MODULE_ENTRY(
    velmora::TServerRegistry* registry, velmora::TServerFactory* factory);
