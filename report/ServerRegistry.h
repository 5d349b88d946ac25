#pragma once

#include "report/utilcls.h"

#include <QString>

#include <functional>
#include <vector>

namespace velmora {

// Creates a new instance of a server and hands out its root interface (a new reference).
using TServerFactory = std::function<HRESULT(IUnknown** server)>;

// Where the automation component finds its document servers: the servers that can start a new
// instance of a class, and the instances that are running.
//
// Threads: used from one thread at a time (the report's thread in the program).
//
// Lifecycle: a server registers its factory once (RegisterDocumentServers does so for the
// program's own); a new instance registers itself as running while it lives and revokes that
// when it is told to quit. The registry keeps a reference to each running instance.
//
// A class may have several factories; a new instance comes from the one registered last that
// succeeds, so that a server that needs an outside program (an office suite) registers after
// the built-in one and the built-in one stands in when the outside program is missing.
class TServerRegistry {
public:
    TServerRegistry() = default;
    TServerRegistry(const TServerRegistry&) = delete;
    TServerRegistry& operator=(const TServerRegistry&) = delete;

    // The program's registry, with its document servers registered on first use.
    static TServerRegistry& Instance();

    // Factories: the cookie (never 0) revokes the factory again.
    std::uint32_t RegisterFactory(const GUID& clsid, const QString& progId, TServerFactory factory);
    void RevokeFactory(std::uint32_t cookie);

    // Running instances: the cookie (never 0) revokes the registration again.
    HRESULT RegisterActiveObject(const GUID& clsid, IUnknown* object, std::uint32_t* cookie);
    HRESULT RevokeActiveObject(std::uint32_t cookie);

    // The running instance of a class registered last; MK_E_UNAVAILABLE when there is none.
    HRESULT GetActiveObject(const GUID& clsid, IUnknown** object);
    // A new instance; REGDB_E_CLASSNOTREG without a factory, else the last factory's failure.
    HRESULT CreateInstance(const GUID& clsid, IUnknown** object);
    // A new instance of the server that stands in when the others fail: the class's factory
    // registered first, where others are registered after it (the built-in writer, for an office
    // suite that went away). REGDB_E_CLASSNOTREG when the class has no other factory.
    HRESULT CreateStandInInstance(const GUID& clsid, IUnknown** object);
    // A new instance on another machine: there is no remote activation here, so always
    // RPC_S_SERVER_UNAVAILABLE (E_INVALIDARG without a machine name).
    HRESULT CreateRemoteInstance(const GUID& clsid, const QString& machine, IUnknown** object);
    // The program ID under which a class's factory was registered; REGDB_E_CLASSNOTREG if none.
    HRESULT ProgIDFromCLSID(const GUID& clsid, QString* progId) const;

private:
    struct Factory {
        std::uint32_t cookie;
        GUID clsid;
        QString progId;
        TServerFactory create;
    };
    struct Running {
        std::uint32_t cookie;
        GUID clsid;
        IUnknownPtr object;
    };

    std::vector<Factory> factories_;
    std::vector<Running> running_;
    std::uint32_t nextCookie_ = 1;
};

}  // namespace velmora
