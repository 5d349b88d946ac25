#pragma once

// Events from a document server to its client: the server offers connection points, one per
// event interface; a client advises its sink at one and receives each event as a number with
// its arguments.

#include "report/utilcls.h"

#include <map>
#include <span>

namespace velmora {

// Receives events. The arguments are passed by reference: an event may hand a value back
// through one (a Cancel flag, for instance).
class IEventSink : public IUnknown {
public:
    static constexpr GUID IID = {
        0x5DEF3E82, 0x89E8, 0x49BE, {0xAF, 0x42, 0x60, 0x79, 0xA3, 0xD9, 0xAC, 0xC3}};
    virtual HRESULT Invoke(std::int32_t dispId, std::span<TVariant> params) = 0;
};

// One event interface of a server. Advise keeps a reference to the sink and returns a cookie
// (never 0) that Unadvise takes back.
class IConnectionPoint : public IUnknown {
public:
    static constexpr GUID IID = {
        0x30B085EF, 0x3C94, 0x4251, {0xA3, 0xE5, 0x0A, 0x8D, 0x19, 0xAE, 0x41, 0x91}};
    virtual HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) = 0;
    virtual HRESULT Unadvise(std::uint32_t cookie) = 0;
};

class IConnectionPointContainer : public IUnknown {
public:
    static constexpr GUID IID = {
        0x168C696A, 0x452E, 0x493F, {0xB6, 0x4E, 0x3F, 0xC7, 0x0A, 0xEC, 0x14, 0xF1}};
    // CONNECT_E_NOCONNECTION when the server has no point for `iid`.
    virtual HRESULT FindConnectionPoint(const GUID& iid, IConnectionPoint** point) = 0;
};

// The sinks advised at one event interface, for a server to keep and fire. Fire calls every
// sink that is advised when it starts; a sink that unadvises while an event runs is not called
// again.
class TConnectionPoint final : public TComObject<IConnectionPoint> {
public:
    HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) override;
    HRESULT Unadvise(std::uint32_t cookie) override;

    void Fire(std::int32_t dispId, std::span<TVariant> params = {});
    std::size_t SinkCount() const { return sinks_.size(); }

private:
    std::map<std::uint32_t, TComInterface<IEventSink>> sinks_;
    std::uint32_t nextCookie_ = 1;
};

}  // namespace velmora
