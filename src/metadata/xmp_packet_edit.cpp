#include "metadata/xmp_packet_edit.h"

#include <exempi/xmpconsts.h>

#include <algorithm>
#include <cctype>

#include "metadata/xml_scanner.h"
#include "metadata/xmp_metadata.h"
#include "metadata/xmp_toolkit.h"

namespace {

constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kMetaNamespace = "adobe:ns:meta/";
constexpr std::size_t kPaddingLine = 100;  // bytes, line feed included, as common writers lay padding out

// The prefixes readers know these namespaces by; any other gets a neutral one.
const std::pair<std::string_view, std::string_view> kPrefixes[] = {
    {NS_XAP, "xmp"}, {NS_TIFF, "tiff"}, {NS_EXIF, "exif"}, {NS_DC, "dc"}};

std::string Named(const PacketProperty& property) { return property.schema + " " + property.name; }

const XmlElement& Element(const XmlDocument& document, int index) {
    return document.elements[static_cast<std::size_t>(index)];
}

bool Is(const XmlElement& element, std::string_view uri, std::string_view local) {
    return element.uri == uri && element.local == local;
}

// The property's name and value must go into the text as they are meant.
void CheckProperty(const PacketProperty& property) {
    const std::string& name = property.name;
    const bool nameFits = !name.empty() && std::isalpha(static_cast<unsigned char>(name[0])) &&
                          std::all_of(name.begin(), name.end(), [](char c) {
                              return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
                          });
    if (!nameFits || property.schema.empty() || property.schema == kRdfNamespace ||
        property.schema == "http://www.w3.org/XML/1998/namespace" ||
        property.schema == "http://www.w3.org/2000/xmlns/" || !IsXmlText(property.schema) ||
        !IsXmlText(property.value)) {
        throw PacketEditError("not a property that can be written as text: " + Named(property));
    }
}

// quote 0 for element content. A carriage return anywhere, and a tab or line
// feed in an attribute, go by reference: a parser reads them as written
// only so, not as a line feed or a space.
std::string Escape(std::string_view text, char quote) {
    std::string out;
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"' && quote == '"') out += "&quot;";
        else if (c == '\'' && quote == '\'') out += "&apos;";
        else if (c == '\r' || (quote != 0 && (c == '\t' || c == '\n'))) out += "&#" + std::to_string(c) + ";";
        else out += c;
    }
    return out;
}

// The top-level rdf:Description elements, or a refusal where the packet is
// laid out in a way whose reading by the toolkit is not certain.
std::vector<int> Descriptions(const XmlDocument& document) {
    // The toolkit reads nothing from rdf:RDF without x:xmpmeta around it.
    const XmlElement& root = Element(document, 0);
    if (!Is(root, kMetaNamespace, "xmpmeta") && !Is(root, kMetaNamespace, "xapmeta")) {
        throw PacketEditError("not an XMP packet: x:xmpmeta is not its root");
    }
    if (root.hasText || root.children.size() != 1) throw PacketEditError("x:xmpmeta holds other than one rdf:RDF");
    const XmlElement& rdfElement = Element(document, root.children.front());
    if (!Is(rdfElement, kRdfNamespace, "RDF")) throw PacketEditError("no rdf:RDF where an XMP packet holds it");
    if (rdfElement.hasText) throw PacketEditError("text beside the descriptions in rdf:RDF");
    if (rdfElement.children.empty()) throw PacketEditError("no rdf:Description");
    for (const int child : rdfElement.children) {
        const XmlElement& description = Element(document, child);
        if (!Is(description, kRdfNamespace, "Description")) throw PacketEditError("a typed node in rdf:RDF");
        if (description.hasText) throw PacketEditError("text beside the properties of an rdf:Description");
    }
    return rdfElement.children;
}

struct Place {
    int element = -1;    // the rdf:Description holding the attribute, or the property element
    int attribute = -1;  // -1 for a property element
};

std::vector<Place> Places(const XmlDocument& document, const std::vector<int>& descriptions,
                          const PacketProperty& property) {
    std::vector<Place> places;
    for (const int index : descriptions) {
        const XmlElement& description = Element(document, index);
        for (std::size_t i = 0; i < description.attributes.size(); ++i) {
            const XmlAttribute& attribute = description.attributes[i];
            if (attribute.uri == property.schema && attribute.local == property.name) {
                places.push_back({index, static_cast<int>(i)});
            }
        }
        for (const int child : description.children) {
            if (Is(Element(document, child), property.schema, property.name)) places.push_back({child, -1});
        }
    }
    return places;
}

void Replace(std::string& text, const XmlDocument& document, const Place& place, const PacketProperty& property) {
    const XmlElement& element = Element(document, place.element);
    if (place.attribute >= 0) {
        const XmlAttribute& attribute = element.attributes[static_cast<std::size_t>(place.attribute)];
        text.replace(attribute.valueStart, attribute.valueEnd - attribute.valueStart,
                     Escape(property.value, attribute.quote));
        return;
    }
    // Any attribute but a namespace declaration makes it a qualified value,
    // a resource or a structure (or is rdf:parseType).
    if (std::any_of(element.attributes.begin(), element.attributes.end(),
                    [](const XmlAttribute& attribute) { return !attribute.declaration; })) {
        throw PacketEditError(Named(property) + " has attributes of its own");
    }
    if (!element.children.empty() || element.hasOtherContent) {
        throw PacketEditError(Named(property) + " holds more than text");
    }
    const std::string value = Escape(property.value, 0);
    if (element.selfClosed) {
        text.replace(element.tagEnd - 2, 2, ">" + value + "</" + std::string(element.name) + ">");
    } else {
        text.replace(element.tagEnd, element.contentEnd - element.tagEnd, value);
    }
}

bool Declares(const XmlElement& element, std::string_view uri) {
    return std::any_of(element.bindings.begin(), element.bindings.end(),
                       [&](const auto& binding) { return !binding.first.empty() && binding.second == uri; });
}

bool Uses(const XmlDocument& document, const XmlElement& element, std::string_view uri) {
    return std::any_of(element.attributes.begin(), element.attributes.end(),
                       [&](const XmlAttribute& attribute) { return attribute.uri == uri; }) ||
           std::any_of(element.children.begin(), element.children.end(),
                       [&](int child) { return Element(document, child).uri == uri; });
}

// A new attribute of the description whose properties share its namespace,
// else of one that declares it, else of the first; in the layout and quotes
// of the attribute before it.
void Add(std::string& text, const XmlDocument& document, const std::vector<int>& descriptions,
         const PacketProperty& property) {
    auto chosen = std::find_if(descriptions.begin(), descriptions.end(),
                               [&](int index) { return Uses(document, Element(document, index), property.schema); });
    if (chosen == descriptions.end()) {
        chosen = std::find_if(descriptions.begin(), descriptions.end(),
                              [&](int index) { return Declares(Element(document, index), property.schema); });
    }
    const int index = chosen == descriptions.end() ? descriptions.front() : *chosen;
    const XmlElement& description = Element(document, index);

    std::string prefix;
    for (int at = index; at >= 0 && prefix.empty(); at = Element(document, at).parent) {
        for (const auto& [bound, uri] : Element(document, at).bindings) {
            if (!bound.empty() && uri == property.schema && NamespaceInScope(document, index, bound) == uri) {
                prefix = bound;
                break;
            }
        }
    }
    std::string separator = " ";
    char quote = '"';
    if (!description.attributes.empty()) {
        const XmlAttribute& last = description.attributes.back();
        std::size_t space = last.start;
        while (space > description.start && std::isspace(static_cast<unsigned char>(text[space - 1]))) --space;
        separator = text.substr(space, last.start - space);
        quote = last.quote;
    }
    std::string insertion;
    if (prefix.empty()) {
        const auto known = std::find_if(std::begin(kPrefixes), std::end(kPrefixes),
                                        [&](const auto& entry) { return entry.first == property.schema; });
        const std::string base(known == std::end(kPrefixes) ? "ns" : known->second);
        prefix = base;
        for (int n = 1; NamespaceInScope(document, index, prefix); ++n) prefix = base + std::to_string(n);
        insertion = separator + "xmlns:" + prefix + "=" + quote + Escape(property.schema, quote) + quote;
    }
    insertion += separator + prefix + ":" + property.name + "=" + quote + Escape(property.value, quote) + quote;
    text.insert(description.attributesEnd, insertion);
}

void SetProperty(std::string& text, const PacketProperty& property) {
    const XmlDocument document = ScanXml(text);
    const std::vector<int> descriptions = Descriptions(document);
    const std::vector<Place> places = Places(document, descriptions, property);
    if (places.size() > 1) throw PacketEditError(Named(property) + " is defined more than once");
    if (places.empty()) {
        Add(text, document, descriptions, property);
    } else {
        Replace(text, document, places.front(), property);
    }
}

// The padding before the trailer gives or takes what the edits changed,
// spaces first, so that its line ends stay where they were.
void Refit(std::string& text, std::size_t size, const XmlDocument& document) {
    if (text.size() == size || document.trailer == std::string::npos) return;
    if (text.size() < size) {
        std::size_t at = document.trailer;
        if (at > document.padding && text[at - 1] == '\n') --at;
        if (at > document.padding && text[at - 1] == '\r') --at;
        text.insert(at, size - text.size(), ' ');
        return;
    }
    std::size_t excess = text.size() - size;
    const std::string_view padding =
        std::string_view(text).substr(document.padding, document.trailer - document.padding);
    if (padding.size() < excess) return;
    std::string kept;
    for (std::size_t at = padding.size(); at-- > 0;) {
        if (excess > 0 && (padding[at] == ' ' || padding[at] == '\t')) {
            --excess;
        } else {
            kept += padding[at];
        }
    }
    std::reverse(kept.begin(), kept.end());
    kept.resize(kept.size() - excess);
    text.replace(document.padding, padding.size(), kept);
}

std::string Shown(const XmpNode& node) {
    constexpr std::size_t kLongest = 60;
    std::string value = node.value.size() > kLongest ? node.value.substr(0, kLongest) + "..." : node.value;
    return node.path + " = \"" + value + "\"";
}

// Whether node is one of changed, or a part (item, field, qualifier) of one.
bool IsChanged(const XmpNode& node, const std::vector<PacketProperty>& changed) {
    const std::string_view path = node.path;
    const std::size_t colon = path.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = path.substr(colon + 1, path.find_first_of("/[", colon) - colon - 1);
    return std::any_of(changed.begin(), changed.end(), [&](const PacketProperty& property) {
        return property.schema == node.schema && property.name == name;
    });
}

// The nodes to compare: no schema nodes, which a new property may add, none
// of changed, and each schema's nodes together: schema order means nothing
// and moves when a property of a schema met later comes first.
std::vector<XmpNode> Comparable(std::vector<XmpNode> nodes, const std::vector<PacketProperty>& changed) {
    std::erase_if(nodes,
                  [&](const XmpNode& node) { return (node.options & kXmpSchemaNode) || IsChanged(node, changed); });
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const XmpNode& a, const XmpNode& b) { return a.schema < b.schema; });
    return nodes;
}

}  // namespace

std::string EditPacket(std::string_view packet, const std::vector<PacketProperty>& properties, bool keepSize) {
    std::string text(packet);
    for (const PacketProperty& property : properties) {
        CheckProperty(property);
        SetProperty(text, property);
    }
    // The result must read as the edits meant it to, even without edits.
    const XmlDocument document = ScanXml(text);
    Descriptions(document);
    if (keepSize) Refit(text, packet.size(), document);
    return text;
}

std::string NewPacket(std::size_t padding) {
    std::string packet =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"/>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n";
    for (std::size_t left = padding; left > 0;) {
        const std::size_t line = std::min(left, kPaddingLine);
        packet.append(line - 1, ' ');
        packet += '\n';
        left -= line;
    }
    return packet + "<?xpacket end=\"w\"?>";
}

std::string PacketDifference(std::string_view before, std::string_view after,
                             const std::vector<PacketProperty>& changed) {
    if (!InitializeXmpToolkit()) return "the toolkit does not start";
    std::vector<XmpNode> old;
    std::vector<XmpNode> now;
    try {
        XmpMeta meta;
        if (!before.empty()) meta.Parse(before);
        old = meta.Nodes();
    } catch (const XmpToolkitError& error) {
        return std::string("the packet before does not parse: ") + error.what();
    }
    try {
        XmpMeta meta;
        meta.Parse(after);
        now = meta.Nodes();
    } catch (const XmpToolkitError& error) {
        return std::string("the packet after does not parse: ") + error.what();
    }
    for (const PacketProperty& property : changed) {
        const auto found = std::find_if(now.begin(), now.end(), [&](const XmpNode& node) {
            return node.schema == property.schema && node.path.find_first_of("/[") == std::string::npos &&
                   node.path.substr(node.path.find(':') + 1) == property.name;
        });
        if (found == now.end()) return Named(property) + " is missing after";
        const std::uint32_t notSimple = XMP_PROP_COMPOSITE_MASK | XMP_PROP_HAS_QUALIFIERS | XMP_PROP_VALUE_IS_URI;
        if (found->value != property.value || (found->options & notSimple)) {
            return "after holds " + Shown(*found) + " with options " + std::to_string(found->options);
        }
    }
    old = Comparable(std::move(old), changed);
    now = Comparable(std::move(now), changed);
    for (std::size_t i = 0; i < std::max(old.size(), now.size()); ++i) {
        if (i == old.size()) return "after has " + Shown(now[i]) + " in addition";
        if (i == now.size()) return "after lacks " + Shown(old[i]);
        const XmpNode& a = old[i];
        const XmpNode& b = now[i];
        if (a.schema != b.schema || a.path != b.path || a.value != b.value || a.options != b.options) {
            return "before holds " + Shown(a) + " (" + a.schema + ", options " + std::to_string(a.options) +
                   "), after " + Shown(b) + " (" + b.schema + ", options " + std::to_string(b.options) + ")";
        }
    }
    return {};
}
