#pragma once

#include <QString>

#include <cstdint>

namespace velmora {

// Result codes of the automation calls: negative is a failure, zero or positive a success
// (positive ones are warnings). The values are the classic ones, so that a code reads the same
// in every message and every test.
using HRESULT = std::int32_t;

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
constexpr HRESULT ResultCode(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = ResultCode(0x80004001);
constexpr HRESULT E_NOINTERFACE = ResultCode(0x80004002);
constexpr HRESULT E_POINTER = ResultCode(0x80004003);
constexpr HRESULT E_ABORT = ResultCode(0x80004004);
constexpr HRESULT E_FAIL = ResultCode(0x80004005);
constexpr HRESULT E_UNEXPECTED = ResultCode(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = ResultCode(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = ResultCode(0x8007000E);
constexpr HRESULT E_INVALIDARG = ResultCode(0x80070057);
constexpr HRESULT HRESULT_FILE_NOT_FOUND = ResultCode(0x80070002);
constexpr HRESULT HRESULT_PATH_NOT_FOUND = ResultCode(0x80070003);
constexpr HRESULT HRESULT_DISK_FULL = ResultCode(0x80070070);
constexpr HRESULT RPC_E_CALL_REJECTED = ResultCode(0x80010001);
constexpr HRESULT RPC_E_DISCONNECTED = ResultCode(0x80010108);
constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = ResultCode(0x800706BA);
constexpr HRESULT DISP_E_PARAMNOTFOUND = ResultCode(0x80020004);
constexpr HRESULT DISP_E_EXCEPTION = ResultCode(0x80020009);
constexpr HRESULT STG_E_FILENOTFOUND = ResultCode(0x80030002);
constexpr HRESULT STG_E_ACCESSDENIED = ResultCode(0x80030005);
constexpr HRESULT STG_E_WRITEFAULT = ResultCode(0x8003001D);
constexpr HRESULT STG_E_MEDIUMFULL = ResultCode(0x80030070);
constexpr HRESULT REGDB_E_CLASSNOTREG = ResultCode(0x80040154);
constexpr HRESULT CONNECT_E_NOCONNECTION = ResultCode(0x80040200);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = ResultCode(0x80040202);
constexpr HRESULT MK_E_UNAVAILABLE = ResultCode(0x800401E3);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = ResultCode(0x80080005);
constexpr HRESULT WINCODEC_ERR_UNKNOWNIMAGEFORMAT = ResultCode(0x88982F07);

// A class or interface identifier.
struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};

constexpr GUID GUID_NULL{};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in capitals.
QString StringFromCLSID(const GUID& id);

// The root of every automation object: reference counting and the question for another
// interface of the same object.
//
// An object lives while it has references. AddRef and Release return the new count (for
// diagnostics only); the object deletes itself when Release takes the count to zero. A
// QueryInterface that succeeds hands out a new reference; one that fails sets *object to null.
class IUnknown {
public:
    static constexpr GUID IID = {
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;

protected:
    virtual ~IUnknown() = default;
};

// Reference counting and QueryInterface for an object that implements `Interfaces`, each of
// which has a static IID. The object starts without references; the first smart pointer that
// takes it holds the first one.
template <class First, class... Rest>
class TComObject : public First, public Rest... {
public:
    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT QueryInterface(const GUID& iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (iid == IUnknown::IID || iid == First::IID) {
            *object = static_cast<First*>(this);
        } else {
            (void)((iid == Rest::IID ? (*object = static_cast<Rest*>(this), true) : false) || ...);
        }
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

protected:
    TComObject() = default;

private:
    std::uint32_t references_ = 0;
};

}  // namespace velmora
