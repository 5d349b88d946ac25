#pragma once

// A word processor for tests: it records every call with its arguments ("-" for a missing
// optional argument) and answers with the result code chosen for that member (S_OK if none).
// With `gone` set it behaves as an instance that has ended: every call fails; `goneAfter` calls
// ends it after that many calls. A new instance is alive again.

#include "report/ConnectionPoint.h"
#include "report/ServerRegistry.h"
#include "report/Word_2K.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

using namespace Word_2k;

struct Script {
    std::vector<std::string> calls;
    std::map<std::string, HRESULT> results;
    bool gone = false;
    std::size_t goneAfter = 0;  // 0: never
    std::string fullName;       // where a closed document says it is
    TComInterface<TConnectionPoint> events{new TConnectionPoint};

    // Records a call and gives its result; an object-returning member hands out `object` only
    // on success.
    HRESULT Call(const std::string& member, const std::string& args = {}) {
        calls.push_back(args.empty() ? member : member + "(" + args + ")");
        if (goneAfter > 0 && calls.size() > goneAfter) {
            gone = true;
        }
        if (gone) {
            return RPC_E_DISCONNECTED;
        }
        const auto it = results.find(member);
        return it != results.end() ? it->second : S_OK;
    }
    template <class I>
    HRESULT Give(const std::string& member, I* object, I** place) {
        const TComInterface<I> held(object);
        *place = nullptr;
        const HRESULT hr = Call(member);
        if (SUCCEEDED(hr)) {
            *place = object;
            object->AddRef();
        }
        return hr;
    }
};
using ScriptPtr = std::shared_ptr<Script>;

inline std::string Arg(const TVariant* v) {
    if (v == nullptr) {
        return "null";
    }
    return v->IsMissing() ? "-" : "value";
}
inline std::string Utf8(const WideString& text) {
    return text.ToQString().toStdString();
}

class ScriptedShape final : public TComObject<InlineShape> {
public:
    HRESULT get_Width(float* prop) override { return *prop = 1, S_OK; }
    HRESULT get_Height(float* prop) override { return *prop = 1, S_OK; }
};

class ScriptedShapes final : public TComObject<InlineShapes> {
public:
    explicit ScriptedShapes(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT AddPicture(const WideString& FileName, TVariant* LinkToFile, TVariant* SaveWithDocument,
                       TVariant* Range, InlineShape** prop) override {
        const TComInterface<InlineShape> held(new ScriptedShape);
        *prop = nullptr;
        const HRESULT hr = s_->Call("AddPicture", Utf8(FileName) + "," + Arg(LinkToFile) + "," +
                                                      Arg(SaveWithDocument) + "," + Arg(Range));
        if (SUCCEEDED(hr)) {
            *prop = held.get();
            held.get()->AddRef();
        }
        return hr;
    }

private:
    ScriptPtr s_;
};

class ScriptedFont final : public TComObject<_Font> {
public:
    explicit ScriptedFont(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT set_Bold(std::int32_t prop) override { return s_->Call("Bold", std::to_string(prop)); }
    HRESULT set_Size(float prop) override {
        return s_->Call("Size", QString::number(prop).toStdString());
    }

private:
    ScriptPtr s_;
};

class ScriptedSelection final : public TComObject<Selection> {
public:
    explicit ScriptedSelection(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT get_Font(_Font** prop) override {
        return s_->Give<_Font>("Font", new ScriptedFont(s_), prop);
    }
    HRESULT TypeText(const WideString& Text) override {
        return s_->Call("TypeText", Utf8(Text).empty() ? std::string("\"\"") : Utf8(Text));
    }
    HRESULT TypeParagraph() override { return s_->Call("TypeParagraph"); }
    HRESULT get_InlineShapes(InlineShapes** prop) override {
        return s_->Give<InlineShapes>("InlineShapes", new ScriptedShapes(s_), prop);
    }

private:
    ScriptPtr s_;
};

class ScriptedDocument final : public TComObject<_Document> {
public:
    explicit ScriptedDocument(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT Close(TVariant* a, TVariant* b, TVariant* c) override {
        const auto save = [](const TVariant* v) {
            return v != nullptr && v->vt == VT_BOOL ? std::to_string(v->lVal) : Arg(v);
        };
        return s_->Call("Close", save(a) + "," + Arg(b) + "," + Arg(c));
    }
    HRESULT get_FullName(WideString* prop) override {
        const HRESULT hr = s_->Call("FullName");
        *prop = WideString(SUCCEEDED(hr) ? QString::fromStdString(s_->fullName) : QString());
        return hr;
    }

private:
    ScriptPtr s_;
};

class ScriptedDocuments final : public TComObject<Documents> {
public:
    explicit ScriptedDocuments(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT Add(TVariant* a, TVariant* b, TVariant* c, TVariant* d, _Document** prop) override {
        const TComInterface<_Document> held(new ScriptedDocument(s_));
        *prop = nullptr;
        const HRESULT hr = s_->Call("Add", Arg(a) + "," + Arg(b) + "," + Arg(c) + "," + Arg(d));
        if (SUCCEEDED(hr)) {
            *prop = held.get();
            held.get()->AddRef();
        }
        return hr;
    }

private:
    ScriptPtr s_;
};

class ScriptedApplication final : public TComObject<_Application, IConnectionPointContainer> {
public:
    explicit ScriptedApplication(ScriptPtr s) : s_(std::move(s)) {}
    HRESULT set_Visible(TOLEBOOL prop) override {
        return s_->Call("Visible", std::to_string(prop));
    }
    HRESULT get_Documents(Documents** prop) override {
        return s_->Give<Documents>("Documents", new ScriptedDocuments(s_), prop);
    }
    HRESULT get_Selection(Selection** prop) override {
        return s_->Give<Selection>("Selection", new ScriptedSelection(s_), prop);
    }
    HRESULT get_ActiveDocument(_Document** prop) override {
        return s_->Give<_Document>("ActiveDocument", new ScriptedDocument(s_), prop);
    }
    HRESULT Quit(TVariant* a, TVariant* b, TVariant* c) override {
        return s_->Call("Quit", Arg(a) + "," + Arg(b) + "," + Arg(c));
    }
    HRESULT FindConnectionPoint(const GUID& iid, IConnectionPoint** point) override {
        *point = nullptr;
        if (iid != DIID_ApplicationEvents) {
            return CONNECT_E_NOCONNECTION;
        }
        *point = s_->events.get();
        (*point)->AddRef();
        return S_OK;
    }

private:
    ScriptPtr s_;
};

// Registers a factory of scripted instances in `registry`; each creation is recorded as
// "CreateInstance" (and fails with results["CreateInstance"] when one is set).
inline std::uint32_t RegisterScripted(TServerRegistry& registry, const ScriptPtr& script) {
    return registry.RegisterFactory(
        CLSID_WordApplication, QStringLiteral("Word.Application"),
        [script](IUnknown** server) -> HRESULT {
            script->gone = false;
            script->goneAfter = 0;
            const HRESULT hr = script->Call("CreateInstance");
            if (FAILED(hr)) {
                return hr;
            }
            const TComInterface<_Application> app(new ScriptedApplication(script));
            return app.get()->QueryInterface(IUnknown::IID, reinterpret_cast<void**>(server));
        });
}

}  // namespace velmora::test
