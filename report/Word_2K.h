#pragma once

// The word processor's object model as far as the report uses it.
//
// Two halves:
// - the interfaces (`_Application`, `Documents`, `_Document`, `Selection`, `_Font`,
//   `InlineShapes`, `InlineShape`) that a document server implements: every member returns a
//   result code and hands objects out through a place for the result, with a new reference;
// - the references that callers hold (`_ApplicationPtr`, `DocumentsPtr`, ...), whose members
//   make the calls: an empty reference is reported by the assertion box and the call skipped
//   (E_POINTER, or an empty result); reading an object is a guarded call (HRCHECK), whose
//   expression text names the call. Optional arguments default to TNoParam.
//
// What a server must do to satisfy the report: after Documents.Add the selection stands in the
// new, empty document, which is the active one; TypeText and TypeParagraph insert at the
// selection and leave it after what they inserted; Bold and Size apply to what is typed next;
// AddPicture inserts at the selection; Close returns 0 on success.

#include "report/utilcls.h"

namespace velmora::Word_2k {

// The word processor application's class and the interface of its events.
constexpr GUID CLSID_WordApplication = {
    0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID DIID_ApplicationEvents = {
    0x000209FE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr char kWordProgId[] = "Word.Application";

class _Application;
class Documents;
class _Document;
class Selection;
class _Font;
class InlineShapes;
class InlineShape;

class InlineShape : public IUnknown {
public:
    static constexpr GUID IID = {
        0xF975493A, 0x347B, 0x4ABA, {0xBF, 0x1F, 0x76, 0x1E, 0xD5, 0x4A, 0x7B, 0x44}};
    // The picture's size in points.
    virtual HRESULT get_Width(float* prop) = 0;
    virtual HRESULT get_Height(float* prop) = 0;
};

class InlineShapes : public IUnknown {
public:
    static constexpr GUID IID = {
        0x87D4EE80, 0x227C, 0x471C, {0xB7, 0xBF, 0x0C, 0x93, 0xF2, 0xE3, 0xF3, 0x1B}};
    virtual HRESULT AddPicture(const WideString& FileName, TVariant* LinkToFile,
                               TVariant* SaveWithDocument, TVariant* Range, InlineShape** prop) = 0;
};

class _Font : public IUnknown {
public:
    static constexpr GUID IID = {
        0x8253F7FF, 0x994B, 0x4348, {0x9C, 0xFA, 0x3D, 0x4D, 0x0B, 0xD0, 0xF0, 0xBA}};
    virtual HRESULT set_Bold(std::int32_t prop) = 0;
    virtual HRESULT set_Size(float prop) = 0;
};

class Selection : public IUnknown {
public:
    static constexpr GUID IID = {
        0x5F68F945, 0x2E8C, 0x42DA, {0xBC, 0x35, 0x29, 0x60, 0x3A, 0x82, 0x25, 0x79}};
    virtual HRESULT get_Font(_Font** prop) = 0;
    virtual HRESULT TypeText(const WideString& Text) = 0;
    virtual HRESULT TypeParagraph() = 0;
    virtual HRESULT get_InlineShapes(InlineShapes** prop) = 0;
};

class _Document : public IUnknown {
public:
    static constexpr GUID IID = {
        0x8CDAE96E, 0x8FC1, 0x4705, {0xAF, 0x4D, 0xA9, 0x00, 0x84, 0x7C, 0x1A, 0x6E}};
    virtual HRESULT Close(TVariant* SaveChanges, TVariant* OriginalFormat,
                          TVariant* RouteDocument) = 0;
    // The file the document is saved in, with its path; empty while it has none.
    virtual HRESULT get_FullName(WideString* prop) = 0;
};

class Documents : public IUnknown {
public:
    static constexpr GUID IID = {
        0xABC74E43, 0x6828, 0x4266, {0xB2, 0xB2, 0xC7, 0xF7, 0x2E, 0x52, 0x17, 0x90}};
    virtual HRESULT Add(TVariant* Template, TVariant* NewTemplate, TVariant* DocumentType,
                        TVariant* Visible, _Document** prop) = 0;
};

class _Application : public IUnknown {
public:
    static constexpr GUID IID = {
        0x00020970, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT set_Visible(TOLEBOOL prop) = 0;
    virtual HRESULT get_Documents(Documents** prop) = 0;
    virtual HRESULT get_Selection(Selection** prop) = 0;
    virtual HRESULT get_ActiveDocument(_Document** prop) = 0;
    virtual HRESULT Quit(TVariant* SaveChanges, TVariant* OriginalFormat,
                         TVariant* RouteDocument) = 0;
};

// --- References that callers hold.

class InlineShapePtr : public TComInterface<InlineShape> {
public:
    using TComInterface::TComInterface;
};

class InlineShapesPtr : public TComInterface<InlineShapes> {
public:
    using TComInterface::TComInterface;
    InlineShapePtr AddPicture(const WideString& FileName, TVariant* LinkToFile = TNoParam(),
                              TVariant* SaveWithDocument = TNoParam(),
                              TVariant* Range = TNoParam());
};

class WordFontPtr : public TComInterface<_Font> {
public:
    using TComInterface::TComInterface;
    HRESULT set_Bold(std::int32_t prop);
    HRESULT set_Size(float prop);
};

class SelectionPtr : public TComInterface<Selection> {
public:
    using TComInterface::TComInterface;
    WordFontPtr get_Font();
    HRESULT TypeText(const WideString& Text);
    HRESULT TypeParagraph();
    InlineShapesPtr get_InlineShapes();
};

class WordDocumentPtr : public TComInterface<_Document> {
public:
    using TComInterface::TComInterface;
    // Not guarded: the result is the caller's to judge.
    HRESULT Close(TVariant* SaveChanges = TNoParam(), TVariant* OriginalFormat = TNoParam(),
                  TVariant* RouteDocument = TNoParam());
    // Not guarded either.
    HRESULT get_FullName(WideString* prop);
};

class DocumentsPtr : public TComInterface<Documents> {
public:
    using TComInterface::TComInterface;
    WordDocumentPtr Add(TVariant* Template = TNoParam(), TVariant* NewTemplate = TNoParam(),
                        TVariant* DocumentType = TNoParam(), TVariant* Visible = TNoParam());
};

class _ApplicationPtr : public TComInterface<_Application> {
public:
    using TComInterface::TComInterface;
    HRESULT set_Visible(TOLEBOOL prop);
    DocumentsPtr get_Documents();
    SelectionPtr get_Selection();
    WordDocumentPtr get_ActiveDocument();
    HRESULT Quit(TVariant* SaveChanges = TNoParam(), TVariant* OriginalFormat = TNoParam(),
                 TVariant* RouteDocument = TNoParam());
};

}  // namespace velmora::Word_2k
