#include "platform/dom_win.h"

#include <msxml2.h>

#include <new>

#include "platform/platform_win.h"
#include "platform/win_handles.h"

namespace platform {

// Declared by hand: the SDK header maps CLSID_DOMDocument to another class.
const CLSID kClsidDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

namespace {

unique_bstr NameBstr(const std::string& name) {
    unique_bstr bstr = Utf8ToBstr(name);
    if (!bstr) throw std::bad_alloc();
    return bstr;
}

class MsxmlNode : public XmlNode {
public:
    explicit MsxmlNode(com_ptr<IXMLDOMNode> node) : node_(std::move(node)) {}
    std::unique_ptr<XmlNode> SelectSingleNode(const std::string& name) override;
    std::unique_ptr<XmlNodeList> SelectNodes(const std::string& name) override;
    bool AttributeText(const std::string& name, std::string* text) override;

private:
    com_ptr<IXMLDOMNode> node_;
};

class MsxmlNodeList : public XmlNodeList {
public:
    explicit MsxmlNodeList(com_ptr<IXMLDOMNodeList> list) : list_(std::move(list)) {}
    long Length(bool* ok) override {
        long length = 0;
        *ok = list_->get_length(&length) == S_OK;
        return *ok ? length : 0;
    }
    std::unique_ptr<XmlNode> Item(long index) override {
        com_ptr<IXMLDOMNode> node;
        if (list_->get_item(index, node.put()) != S_OK || !node) return nullptr;
        return std::unique_ptr<XmlNode>(new MsxmlNode(std::move(node)));
    }

private:
    com_ptr<IXMLDOMNodeList> list_;
};

std::unique_ptr<XmlNode> MsxmlNode::SelectSingleNode(const std::string& name) {
    com_ptr<IXMLDOMNode> found;
    unique_bstr query = NameBstr(name);
    if (node_->selectSingleNode(query.get(), found.put()) != S_OK || !found) return nullptr;
    return std::unique_ptr<XmlNode>(new MsxmlNode(std::move(found)));
}

std::unique_ptr<XmlNodeList> MsxmlNode::SelectNodes(const std::string& name) {
    com_ptr<IXMLDOMNodeList> found;
    unique_bstr query = NameBstr(name);
    if (node_->selectNodes(query.get(), found.put()) != S_OK || !found) return nullptr;
    return std::unique_ptr<XmlNodeList>(new MsxmlNodeList(std::move(found)));
}

bool MsxmlNode::AttributeText(const std::string& name, std::string* text) {
    com_ptr<IXMLDOMNamedNodeMap> attributes;
    if (node_->get_attributes(attributes.put()) != S_OK || !attributes) return false;
    com_ptr<IXMLDOMNode> attribute;
    {
        unique_bstr key = NameBstr(name);
        if (attributes->getNamedItem(key.get(), attribute.put()) != S_OK || !attribute) return false;
    }
    unique_bstr value;
    if (attribute->get_text(value.put()) != S_OK) return false;
    *text = Narrow(value.get(), ::SysStringLen(value.get()));
    return true;
}

class MsxmlDocument : public XmlDocument {
public:
    explicit MsxmlDocument(com_ptr<IXMLDOMDocument> document) : document_(std::move(document)) {}
    bool Load(const std::string& path) override {
        VARIANT source;
        ::VariantInit(&source);
        BSTR bstr = Utf8ToBstr(path).release();
        if (bstr) {
            V_VT(&source) = VT_BSTR;
            V_BSTR(&source) = bstr;
        } else {
            V_VT(&source) = VT_ERROR;
            V_ERROR(&source) = E_OUTOFMEMORY;
        }
        document_->put_async(VARIANT_FALSE);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        const HRESULT hr = document_->load(source, &loaded);
        ::VariantClear(&source);
        return hr >= 0 && loaded == VARIANT_TRUE;
    }
    std::unique_ptr<XmlNode> DocumentElement() override {
        com_ptr<IXMLDOMElement> element;
        if (document_->get_documentElement(element.put()) != S_OK || !element) return nullptr;
        com_ptr<IXMLDOMNode> node;
        if (element->QueryInterface(IID_IXMLDOMNode, node.put_void()) != S_OK || !node) return nullptr;
        return std::unique_ptr<XmlNode>(new MsxmlNode(std::move(node)));
    }

    void Close() { document_.reset(); }

private:
    com_ptr<IXMLDOMDocument> document_;
};

class MsxmlSession : public XmlSession {
public:
    MsxmlSession(bool ownsCom, com_ptr<IXMLDOMDocument> document)
        : ownsCom_(ownsCom), document_(std::move(document)) {}
    ~MsxmlSession() override {
        document_.Close();  // the document must go before COM does
        if (ownsCom_) ::CoUninitialize();
    }
    XmlDocument& Document() override { return document_; }

private:
    bool ownsCom_;
    MsxmlDocument document_;
};

bool CreateDom(const CLSID& domClass, com_ptr<IXMLDOMDocument>& document) {
    const HRESULT hr = ::CoCreateInstance(domClass, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                                          document.put_void());
    return hr == S_OK && document;
}

}  // namespace

std::unique_ptr<XmlSession> OpenMsxml(const CLSID& domClass) {
    com_ptr<IXMLDOMDocument> document;
    bool ownsCom = false;
    if (!CreateDom(domClass, document)) {
        // Only a successful CoInitialize is ours to balance.
        ownsCom = SUCCEEDED(::CoInitialize(nullptr));
        if (!CreateDom(domClass, document)) {
            if (ownsCom) ::CoUninitialize();
            return nullptr;
        }
    }
    return std::unique_ptr<XmlSession>(new MsxmlSession(ownsCom, std::move(document)));
}

WindowsPlatform::WindowsPlatform(const CLSID* domClass) : domClass_(domClass ? domClass : &kClsidDomDocument) {}

std::unique_ptr<XmlSession> WindowsPlatform::OpenXml() { return OpenMsxml(*domClass_); }

}  // namespace platform
