// The few XML DOM operations the manifest reader needs. Any reader offering them
// serves; the Windows one sits on MSXML. Every object releases what it holds when
// destroyed, so a reader that throws half-way leaves nothing behind.
#pragma once

#include <memory>
#include <string>

namespace platform {

class XmlNodeList;

class XmlNode {
public:
    virtual ~XmlNode() = default;
    // First child element of that name, or null.
    virtual std::unique_ptr<XmlNode> SelectSingleNode(const std::string& name) = 0;
    // Child elements of that name, or null when the query fails.
    virtual std::unique_ptr<XmlNodeList> SelectNodes(const std::string& name) = 0;
    // Text of the named attribute (UTF-8); false (output untouched)
    // when the node has no such attribute or it cannot be read.
    virtual bool AttributeText(const std::string& name, std::string* text) = 0;
};

class XmlNodeList {
public:
    virtual ~XmlNodeList() = default;
    // Number of items; `ok` tells whether the count could be obtained.
    virtual long Length(bool* ok) = 0;
    virtual std::unique_ptr<XmlNode> Item(long index) = 0;
};

class XmlDocument {
public:
    virtual ~XmlDocument() = default;
    // Loads a file synchronously.
    virtual bool Load(const std::string& path) = 0;
    virtual std::unique_ptr<XmlNode> DocumentElement() = 0;
};

}  // namespace platform
