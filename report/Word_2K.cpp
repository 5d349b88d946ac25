#include "Word_2K.h"

#include "report/OleCheck.h"

namespace velmora::Word_2k {
namespace {

constexpr char kCheckFile[] = "Word_2K";

}  // namespace

InlineShapePtr InlineShapesPtr::AddPicture(const WideString& FileName, TVariant* LinkToFile,
                                           TVariant* SaveWithDocument, TVariant* Range) {
    InlineShapePtr prop;
    if (InlineShapes* const intf = Checked()) {
        HRCHECK(intf->AddPicture(FileName, LinkToFile, SaveWithDocument, Range, &prop),
                "this->AddPicture(FileName, LinkToFile, SaveWithDocument, Range, "
                "(Word_2k::InlineShapePtr*)&prop)");
    }
    return prop;
}

HRESULT WordFontPtr::set_Bold(std::int32_t prop) {
    _Font* const intf = Checked();
    return intf != nullptr ? intf->set_Bold(prop) : E_POINTER;
}

HRESULT WordFontPtr::set_Size(float prop) {
    _Font* const intf = Checked();
    return intf != nullptr ? intf->set_Size(prop) : E_POINTER;
}

WordFontPtr SelectionPtr::get_Font() {
    WordFontPtr prop;
    if (Selection* const intf = Checked()) {
        HRCHECK(intf->get_Font(&prop), "this->get_Font((Word_2k::WordFontPtr*)&prop)");
    }
    return prop;
}

HRESULT SelectionPtr::TypeText(const WideString& Text) {
    Selection* const intf = Checked();
    return intf != nullptr ? intf->TypeText(Text) : E_POINTER;
}

HRESULT SelectionPtr::TypeParagraph() {
    Selection* const intf = Checked();
    return intf != nullptr ? intf->TypeParagraph() : E_POINTER;
}

InlineShapesPtr SelectionPtr::get_InlineShapes() {
    InlineShapesPtr prop;
    if (Selection* const intf = Checked()) {
        HRCHECK(intf->get_InlineShapes(&prop),
                "this->get_InlineShapes((Word_2k::InlineShapesPtr*)&prop)");
    }
    return prop;
}

HRESULT WordDocumentPtr::Close(TVariant* SaveChanges, TVariant* OriginalFormat,
                               TVariant* RouteDocument) {
    _Document* const intf = Checked();
    return intf != nullptr ? intf->Close(SaveChanges, OriginalFormat, RouteDocument) : E_POINTER;
}

HRESULT WordDocumentPtr::get_FullName(WideString* prop) {
    _Document* const intf = Checked();
    return intf != nullptr ? intf->get_FullName(prop) : E_POINTER;
}

WordDocumentPtr DocumentsPtr::Add(TVariant* Template, TVariant* NewTemplate, TVariant* DocumentType,
                                  TVariant* Visible) {
    WordDocumentPtr prop;
    if (Documents* const intf = Checked()) {
        HRCHECK(intf->Add(Template, NewTemplate, DocumentType, Visible, &prop),
                "this->Add(Template, NewTemplate, DocumentType, Visible, "
                "(Word_2k::WordDocumentPtr*)&prop)");
    }
    return prop;
}

HRESULT _ApplicationPtr::set_Visible(TOLEBOOL prop) {
    _Application* const intf = Checked();
    return intf != nullptr ? intf->set_Visible(prop) : E_POINTER;
}

DocumentsPtr _ApplicationPtr::get_Documents() {
    DocumentsPtr prop;
    if (_Application* const intf = Checked()) {
        HRCHECK(intf->get_Documents(&prop), "this->get_Documents((Word_2k::DocumentsPtr*)&prop)");
    }
    return prop;
}

SelectionPtr _ApplicationPtr::get_Selection() {
    SelectionPtr prop;
    if (_Application* const intf = Checked()) {
        HRCHECK(intf->get_Selection(&prop), "this->get_Selection((Word_2k::SelectionPtr*)&prop)");
    }
    return prop;
}

WordDocumentPtr _ApplicationPtr::get_ActiveDocument() {
    WordDocumentPtr prop;
    if (_Application* const intf = Checked()) {
        HRCHECK(intf->get_ActiveDocument(&prop),
                "this->get_ActiveDocument((Word_2k::WordDocumentPtr*)&prop)");
    }
    return prop;
}

HRESULT _ApplicationPtr::Quit(TVariant* SaveChanges, TVariant* OriginalFormat,
                              TVariant* RouteDocument) {
    _Application* const intf = Checked();
    return intf != nullptr ? intf->Quit(SaveChanges, OriginalFormat, RouteDocument) : E_POINTER;
}

}  // namespace velmora::Word_2k
