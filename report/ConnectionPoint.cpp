#include "ConnectionPoint.h"

#include <vector>

namespace velmora {

HRESULT TConnectionPoint::Advise(IUnknown* sink, std::uint32_t* cookie) {
    if (cookie == nullptr) {
        return E_POINTER;
    }
    *cookie = 0;
    if (sink == nullptr) {
        return E_POINTER;
    }
    IEventSink* events = nullptr;
    if (FAILED(sink->QueryInterface(IEventSink::IID, reinterpret_cast<void**>(&events)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    TComInterface<IEventSink> held(events);
    events->Release();  // `held` keeps the one reference
    *cookie = nextCookie_++;
    sinks_.emplace(*cookie, std::move(held));
    return S_OK;
}

HRESULT TConnectionPoint::Unadvise(std::uint32_t cookie) {
    return sinks_.erase(cookie) == 1 ? S_OK : CONNECT_E_NOCONNECTION;
}

void TConnectionPoint::Fire(std::int32_t dispId, std::span<TVariant> params) {
    // A sink may drop the last other reference to this point while it runs.
    const TComInterface<TConnectionPoint> self(this);
    std::vector<std::pair<std::uint32_t, TComInterface<IEventSink>>> current(sinks_.begin(),
                                                                             sinks_.end());
    for (auto& [cookie, sink] : current) {
        if (sinks_.count(cookie) != 0) {
            sink.get()->Invoke(dispId, params);
        }
    }
}

}  // namespace velmora
