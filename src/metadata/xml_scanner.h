// The markup of an XMP packet as positions in its text, for edits that
// change a few bytes and leave the rest as it stands. The scan accepts only
// what an XML parser with namespaces would accept, and less: no document
// type, no entity but the predefined ones, names in ASCII, text in UTF-8
// without control characters. Whatever it cannot read with certainty it
// refuses, raising PacketEditError (see xmp_packet_edit.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct XmlAttribute {
    std::string_view name;  // as written, prefix included
    std::string uri;        // its namespace; empty for an unprefixed attribute
    std::string_view local;
    std::size_t start = 0;  // of the name
    std::size_t valueStart = 0;  // just inside the quotes
    std::size_t valueEnd = 0;    // the closing quote
    char quote = '"';
    std::string value;  // with references resolved and whitespace normalised
    bool declaration = false;  // xmlns or xmlns:prefix
};

struct XmlElement {
    std::string_view name;  // as written, prefix included
    std::string uri;
    std::string_view local;
    int parent = -1;
    std::size_t start = 0;           // the start tag's '<'
    std::size_t attributesEnd = 0;   // after the name or the last attribute: where another attribute goes
    std::size_t tagEnd = 0;          // after the start tag's '>'
    std::size_t contentEnd = 0;      // the end tag's '<'; tagEnd for an empty-element tag
    bool selfClosed = false;         // written as an empty-element tag
    bool hasText = false;            // character data other than whitespace, or a reference
    bool hasOtherContent = false;    // a comment, processing instruction or CDATA section
    std::vector<XmlAttribute> attributes;
    std::vector<int> children;  // elements, in document order
    std::vector<std::pair<std::string_view, std::string>> bindings;  // declared here; "" for the default
};

struct XmlDocument {
    std::vector<XmlElement> elements;  // in document order; the root first
    // The "<?xpacket end=" instruction after the root element, and the
    // whitespace run right before it; npos when there is none.
    std::size_t trailer = std::string_view::npos;
    std::size_t padding = std::string_view::npos;
};

XmlDocument ScanXml(std::string_view text);

// The namespace prefix stands for at element; nullopt when it is not bound.
// The default namespace is prefix "", and "" when none is declared.
std::optional<std::string> NamespaceInScope(const XmlDocument& document, int element, std::string_view prefix);

// True when text is UTF-8 of characters XML allows, none of them a control
// character other than tab, line feed and carriage return.
bool IsXmlText(std::string_view text);
