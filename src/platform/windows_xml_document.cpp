#include "platform/windows_support.h"

#include <msxml2.h>
#include <oleauto.h>

#include <cstring>

#include "platform/error.h"
#include "platform/xml_document.h"

namespace dovra {
namespace {

// {2933BF95-7B36-11D2-B20E-00C04F983E60}
const IID kIidDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() { return &p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() { return &b_; }
  std::string utf8() const {
    return b_ ? win::narrow(std::wstring_view(b_, SysStringLen(b_))) : "";
  }

 private:
  BSTR b_ = nullptr;
};

// COM for the calling thread, for the time of one parse.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  // False only when COM cannot be used on this thread at all.
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

void createDocument(ComPtr<IXMLDOMDocument2>& doc) {
  for (const wchar_t* progId : {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.3.0"}) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) continue;
    if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                   reinterpret_cast<void**>(doc.out())))) {
      return;
    }
  }
  throw Exception("The XML parser (MSXML) is not available");
}

void setBoolProperty(IXMLDOMDocument2* doc, const wchar_t* name, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  Bstr property(name);
  doc->setProperty(property.get(), v);  // older parsers lack some properties: not an error
}

XmlNode convert(IXMLDOMNode* element, int depth) {
  if (depth > kXmlMaxDepth) throw Exception("Document nested too deeply");
  XmlNode out;
  out.isElement = true;
  Bstr name;
  element->get_nodeName(name.out());
  out.name = name.utf8();
  ComPtr<IXMLDOMNodeList> children;
  if (FAILED(element->get_childNodes(children.out())) || !children) return out;
  long count = 0;
  children->get_length(&count);
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> child;
    if (FAILED(children->get_item(i, child.out())) || !child) continue;
    DOMNodeType type = NODE_INVALID;
    child->get_nodeType(&type);
    if (type == NODE_ELEMENT) {
      out.children.push_back(convert(child.get(), depth + 1));
    } else if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
      Bstr text;
      child->get_text(text.out());
      XmlNode node;
      node.text = text.utf8();
      out.children.push_back(std::move(node));
    }
  }
  return out;
}

}  // namespace

XmlNode parseXmlDocument(std::string_view body) {
  ComScope com;
  if (!com.usable()) throw Exception("The XML parser (MSXML) is not available");
  ComPtr<IXMLDOMDocument2> doc;
  createDocument(doc);
  doc->put_async(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  setBoolProperty(doc.get(), L"ProhibitDTD", true);

  // Loaded from the bytes, so the parser reads the document's own encoding declaration.
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(body.size()));
  if (!bytes) throw Exception("Out of memory");
  void* data = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(bytes, &data))) {
    if (!body.empty()) std::memcpy(data, body.data(), body.size());
    SafeArrayUnaccessData(bytes);
  }
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_ARRAY | VT_UI1;
  source.parray = bytes;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = doc->load(source, &loaded);
  VariantClear(&source);
  if (FAILED(hr) || loaded != VARIANT_TRUE) {
    if (body.find("<!DOCTYPE") != std::string_view::npos) throw Exception("DTD not allowed");
    std::string reason = "Error parsing the document";
    ComPtr<IXMLDOMParseError> error;
    if (SUCCEEDED(doc->get_parseError(error.out())) && error) {
      Bstr text;
      if (SUCCEEDED(error->get_reason(text.out())) && text.get()) {
        std::string r = text.utf8();
        while (!r.empty() && static_cast<unsigned char>(r.back()) <= 0x20) r.pop_back();
        if (!r.empty()) reason = r;
      }
    }
    throw Exception(reason);
  }
  ComPtr<IXMLDOMDocumentType> doctype;
  if (SUCCEEDED(doc->get_doctype(doctype.out())) && doctype) throw Exception("DTD not allowed");
  ComPtr<IXMLDOMElement> root;
  if (FAILED(doc->get_documentElement(root.out())) || !root) {
    throw Exception("No document element");
  }
  return convert(root.get(), 1);
}

}  // namespace dovra
