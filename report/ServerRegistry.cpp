#include "ServerRegistry.h"

#include "report/DocumentServers.h"

#include <algorithm>

namespace velmora {

TServerRegistry& TServerRegistry::Instance() {
    static TServerRegistry* const registry = [] {
        // Never destroyed: running servers may still be revoking themselves at program end.
        auto* r = new TServerRegistry;
        RegisterDocumentServers(*r);
        return r;
    }();
    return *registry;
}

std::uint32_t TServerRegistry::RegisterFactory(const GUID& clsid, const QString& progId,
                                               TServerFactory factory) {
    const std::uint32_t cookie = nextCookie_++;
    factories_.push_back(Factory{cookie, clsid, progId, std::move(factory)});
    return cookie;
}

void TServerRegistry::RevokeFactory(std::uint32_t cookie) {
    std::erase_if(factories_, [cookie](const Factory& f) { return f.cookie == cookie; });
}

HRESULT TServerRegistry::RegisterActiveObject(const GUID& clsid, IUnknown* object,
                                              std::uint32_t* cookie) {
    if (cookie == nullptr || object == nullptr) {
        return E_POINTER;
    }
    *cookie = nextCookie_++;
    running_.push_back(Running{*cookie, clsid, IUnknownPtr(object)});
    return S_OK;
}

HRESULT TServerRegistry::RevokeActiveObject(std::uint32_t cookie) {
    const auto it = std::find_if(running_.begin(), running_.end(),
                                 [cookie](const Running& r) { return r.cookie == cookie; });
    if (it == running_.end()) {
        return E_INVALIDARG;
    }
    // The reference goes only after the entry has left the table: releasing it may end the
    // server, which must find the table consistent.
    const IUnknownPtr object = std::move(it->object);
    running_.erase(it);
    return S_OK;
}

HRESULT TServerRegistry::GetActiveObject(const GUID& clsid, IUnknown** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    for (auto it = running_.rbegin(); it != running_.rend(); ++it) {
        if (it->clsid == clsid) {
            return it->object.get()->QueryInterface(IUnknown::IID,
                                                    reinterpret_cast<void**>(object));
        }
    }
    return MK_E_UNAVAILABLE;
}

HRESULT TServerRegistry::CreateInstance(const GUID& clsid, IUnknown** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    HRESULT result = REGDB_E_CLASSNOTREG;
    // A copy: a factory may register or revoke while it runs.
    const std::vector<Factory> factories = factories_;
    for (auto it = factories.rbegin(); it != factories.rend(); ++it) {
        if (it->clsid != clsid) {
            continue;
        }
        result = it->create(object);
        if (SUCCEEDED(result) && *object != nullptr) {
            return S_OK;
        }
        if (*object != nullptr) {
            (*object)->Release();
            *object = nullptr;
        }
        if (SUCCEEDED(result)) {
            result = CO_E_SERVER_EXEC_FAILURE;
        }
    }
    return result;
}

HRESULT TServerRegistry::CreateStandInInstance(const GUID& clsid, IUnknown** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    const auto ofClass = [&clsid](const Factory& f) { return f.clsid == clsid; };
    if (std::count_if(factories_.begin(), factories_.end(), ofClass) < 2) {
        return REGDB_E_CLASSNOTREG;
    }
    const TServerFactory first =
        std::find_if(factories_.begin(), factories_.end(), ofClass)->create;
    const HRESULT result = first(object);
    if (SUCCEEDED(result) && *object != nullptr) {
        return S_OK;
    }
    if (*object != nullptr) {
        (*object)->Release();
        *object = nullptr;
    }
    return SUCCEEDED(result) ? CO_E_SERVER_EXEC_FAILURE : result;
}

HRESULT TServerRegistry::CreateRemoteInstance(const GUID&, const QString& machine,
                                              IUnknown** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    return machine.isEmpty() ? E_INVALIDARG : RPC_S_SERVER_UNAVAILABLE;
}

HRESULT TServerRegistry::ProgIDFromCLSID(const GUID& clsid, QString* progId) const {
    for (auto it = factories_.rbegin(); it != factories_.rend(); ++it) {
        if (it->clsid == clsid) {
            *progId = it->progId;
            return S_OK;
        }
    }
    progId->clear();
    return REGDB_E_CLASSNOTREG;
}

}  // namespace velmora
