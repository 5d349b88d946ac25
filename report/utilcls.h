#pragma once

// Interface references, automation text and variants: what every automation call is made of.

#include "report/OleTypes.h"

#include <QString>

#include <string>
#include <utility>

namespace velmora {

// The automation boolean: true is -1, false is 0.
using TOLEBOOL = std::int16_t;
constexpr TOLEBOOL OLE_TRUE = -1;
constexpr TOLEBOOL OLE_FALSE = 0;

// UTF-16 text as the automation calls take it.
class WideString {
public:
    WideString() = default;
    // The program's text as it stands (Qt keeps it in UTF-16 already).
    explicit WideString(const QString& text)
        : text_(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())) {}

    int Length() const { return int(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    const char16_t* c_bstr() const { return text_.c_str(); }
    QString ToQString() const {
        return QString(reinterpret_cast<const QChar*>(text_.data()), qsizetype(text_.size()));
    }

    friend bool operator==(const WideString&, const WideString&) = default;

private:
    std::u16string text_;
};

// A file name in UTF-16 for a call that opens the file. An empty result is reported through the
// assertion box ("size != 0"), whose Cancel answer asks for the debugger.
WideString WideFileName(const QString& path);

// Checks behind the interface references; each shows the assertion box when its condition
// fails and returns whether it held (Yes on the box raises EOleException instead).
bool InterfaceNotEmpty(const void* intf);  // before a call through the reference
bool PlaceStillEmpty(const void* intf);    // before the reference receives a result
// Asks `src` for the interface `iid` ("src->QueryInterface(GetIID(), (LPVOID*)(&intf))"),
// a guarded call; a null iid is an assertion.
HRESULT QueryInterfaceChecked(IUnknown* src, const GUID& iid, void** intf);

// A counted reference to an automation interface: empty or holding one reference.
//
// Calls go through Checked(), which reports an empty reference in the assertion box and then
// yields null: callers skip the call, so nothing is ever called through an empty reference.
// operator& hands the reference to a call as the place for its result; the place must be empty
// (if it is not, the assertion box says so and the old reference is released).
template <class T>
class TComInterface {
public:
    TComInterface() = default;
    // Takes a new reference to `intf` (none when null).
    explicit TComInterface(T* intf) : intf_(intf) {
        if (intf_ != nullptr) {
            intf_->AddRef();
        }
    }
    TComInterface(const TComInterface& other) : TComInterface(other.intf_) {}
    TComInterface(TComInterface&& other) noexcept : intf_(std::exchange(other.intf_, nullptr)) {}
    TComInterface& operator=(TComInterface other) noexcept {
        std::swap(intf_, other.intf_);
        return *this;
    }
    ~TComInterface() { Reset(); }

    static const GUID& GetIID() { return T::IID; }

    T* get() const { return intf_; }
    explicit operator bool() const { return intf_ != nullptr; }
    void Reset() {
        if (T* old = std::exchange(intf_, nullptr)) {
            old->Release();
        }
    }

    T** operator&() {
        if (!PlaceStillEmpty(intf_)) {
            Reset();
        }
        return &intf_;
    }

    // The interface for a call, or null after an empty reference was reported.
    T* Checked() const { return InterfaceNotEmpty(intf_) ? intf_ : nullptr; }

    // Asks another interface of an object for this one (guarded); empty on failure.
    HRESULT QueryFrom(IUnknown* src) {
        Reset();
        return QueryInterfaceChecked(src, GetIID(), reinterpret_cast<void**>(&intf_));
    }

private:
    T* intf_ = nullptr;
};

using IUnknownPtr = TComInterface<IUnknown>;

// Variant types used by the calls.
enum VARTYPE : std::uint16_t {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
};

// An automation value of one of the types above. Optional arguments are passed as pointers to
// variants (by reference), so that a server may also write to them (event arguments do).
struct TVariant {
    VARTYPE vt = VT_EMPTY;
    std::int32_t lVal = 0;  // VT_I4; the code of VT_ERROR; the value of VT_BOOL
    float fltVal = 0;       // VT_R4
    WideString bstrVal;     // VT_BSTR
    IUnknownPtr punkVal;    // VT_UNKNOWN

    // A variant that stands for an optional argument that was left out.
    bool IsMissing() const { return vt == VT_ERROR && lVal == DISP_E_PARAMNOTFOUND; }
    static TVariant Bool(bool value);
    static TVariant Unknown(IUnknown* object);
};

// The value passed for an optional argument that is left out: the error code for a parameter
// that was not found. It converts to a pointer to itself, so that it can stand as the default
// of a by-reference argument for the length of the call.
class TNoParam : public TVariant {
public:
    TNoParam() {
        vt = VT_ERROR;
        lVal = DISP_E_PARAMNOTFOUND;
    }
    operator TVariant*() { return this; }
};

}  // namespace velmora
