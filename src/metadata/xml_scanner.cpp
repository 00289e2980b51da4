#include "metadata/xml_scanner.h"

#include <cstdint>

#include "metadata/xmp_packet_edit.h"

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";
constexpr std::size_t kNone = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':'; }

bool IsXmlChar(std::uint32_t code) {
    return code == '\t' || code == '\n' || code == '\r' || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    constexpr std::uint32_t kLeads[] = {0, 0xC0, 0xE0, 0xF0};
    const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    out += static_cast<char>(kLeads[extra] | (code >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    XmlDocument Run() {
        if (!IsXmlText(text_)) Fail("bytes that are not UTF-8 text");
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = begin_ = 3;
        while (pos_ < text_.size()) {
            if (At("<!--")) {
                Comment();
            } else if (At("<![CDATA[")) {
                CData();
            } else if (At("<!")) {
                Fail("a document type or other declaration");
            } else if (At("<?")) {
                Instruction();
            } else if (At("</")) {
                EndTag();
            } else if (At("<")) {
                StartTag();
            } else {
                Text();
            }
        }
        if (document_.elements.empty()) Fail("no element");
        if (open_ >= 0) Fail("an element left open");
        return std::move(document_);
    }

private:
    [[noreturn]] void Fail(const char* why) const {
        throw PacketEditError(std::string("malformed XML: ") + why + " (byte " + std::to_string(pos_) + ")");
    }

    bool At(std::string_view what) const { return text_.substr(pos_, what.size()) == what; }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }

    void Expect(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) Fail("unexpected character in a tag");
        ++pos_;
    }

    // An ASCII name with at most one colon, not at either end.
    std::string_view Name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        const std::string_view name = text_.substr(start, pos_ - start);
        const std::size_t colon = name.find(':');
        if (name.empty() || !IsNameStart(name[0])) Fail("a missing or unusual name");
        if (colon != kNone && (colon + 1 == name.size() || !IsNameStart(name[colon + 1]) ||
                               name.find(':', colon + 1) != kNone)) {
            Fail("a name with an unusual prefix");
        }
        return name;
    }

    // The text a reference starting at pos_ stands for; pos_ moves past it.
    std::string Reference() {
        const std::size_t end = text_.find(';', pos_);
        if (end == kNone || end - pos_ > 12) Fail("an unterminated reference");
        const std::string_view name = text_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        if (name == "lt") return "<";
        if (name == "gt") return ">";
        if (name == "amp") return "&";
        if (name == "apos") return "'";
        if (name == "quot") return "\"";
        if (name.size() < 2 || name[0] != '#') Fail("an entity reference other than the predefined ones");
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        std::uint32_t code = 0;
        for (const char c : digits) {
            const int digit = c >= '0' && c <= '9'               ? c - '0'
                              : hex && c >= 'a' && c <= 'f'      ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F'      ? c - 'A' + 10
                                                                 : -1;
            if (digit < 0) Fail("a malformed character reference");
            code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
            if (code > 0x10FFFF) Fail("a character reference to no XML character");
        }
        if (digits.empty() || !IsXmlChar(code)) Fail("a character reference to no XML character");
        std::string out;
        AppendUtf8(out, code);
        return out;
    }

    void Comment() {
        const std::size_t end = text_.find("--", pos_ + 4);
        if (end == kNone || end + 2 >= text_.size() || text_[end + 2] != '>') Fail("a malformed comment");
        pos_ = end + 3;
        MarkOtherContent();
    }

    void CData() {
        if (open_ < 0) Fail("a CDATA section outside the root element");
        const std::size_t end = text_.find("]]>", pos_);
        if (end == kNone) Fail("an unterminated CDATA section");
        pos_ = end + 3;
        MarkOtherContent();
    }

    void Instruction() {
        const std::size_t start = pos_;
        pos_ += 2;
        const std::string_view target = Name();
        if (target.find(':') != kNone) Fail("a processing instruction target with a colon");
        const std::size_t end = text_.find("?>", pos_);
        if (end == kNone || (end != pos_ && !IsSpace(text_[pos_]))) Fail("a malformed processing instruction");
        const std::string_view content = text_.substr(pos_, end - pos_);
        pos_ = end + 2;
        if (EqualsIgnoringCase(target, "xml")) {
            if (target != "xml" || start != begin_) Fail("an XML declaration not at the start");
            Declaration(content);
        } else if (target == "xpacket" && open_ < 0 && !document_.elements.empty() &&
                   content.find_first_not_of(" \t\r\n") != kNone &&
                   content.substr(content.find_first_not_of(" \t\r\n"), 4) == "end=") {
            document_.trailer = start;
            std::size_t padding = start;
            while (padding > rootEnd_ && IsSpace(text_[padding - 1])) --padding;
            document_.padding = padding;
        }
        MarkOtherContent();
    }

    // An encoding other than UTF-8 would have the parser read every byte otherwise.
    void Declaration(std::string_view content) {
        std::size_t at = 0;
        for (bool first = true;; first = false) {
            while (at < content.size() && IsSpace(content[at])) ++at;
            if (at == content.size() && !first) return;
            const std::size_t equals = content.find('=', at);
            if (equals == kNone || equals + 1 >= content.size()) Fail("a malformed XML declaration");
            const std::string_view name = content.substr(at, equals - at);
            const char quote = content[equals + 1];
            const std::size_t close = content.find(quote, equals + 2);
            if ((quote != '"' && quote != '\'') || close == kNone) Fail("a malformed XML declaration");
            const std::string_view value = content.substr(equals + 2, close - equals - 2);
            if (first ? name != "version" || value != "1.0"
                      : name == "encoding" ? !EqualsIgnoringCase(value, "utf-8") : name != "standalone") {
                Fail("an XML declaration other than version 1.0 in UTF-8");
            }
            at = close + 1;
            if (at < content.size() && !IsSpace(content[at])) Fail("a malformed XML declaration");
        }
    }

    void Text() {
        const std::size_t end = std::min(text_.find('<', pos_), text_.size());
        bool text = false;
        while (pos_ < end) {
            if (text_[pos_] == '&') {
                Reference();
                text = true;
                continue;
            }
            if (text_.substr(pos_, 3) == "]]>") Fail("\"]]>\" in text");
            text = text || !IsSpace(text_[pos_]);
            ++pos_;
        }
        if (!text) return;
        if (open_ < 0) Fail("text outside the root element");
        document_.elements[static_cast<std::size_t>(open_)].hasText = true;
    }

    void MarkOtherContent() {
        if (open_ >= 0) document_.elements[static_cast<std::size_t>(open_)].hasOtherContent = true;
    }

    void StartTag() {
        if (open_ < 0 && !document_.elements.empty()) Fail("a second root element");
        XmlElement element;
        element.start = pos_++;
        element.name = Name();
        element.parent = open_;
        element.attributesEnd = pos_;
        for (;;) {
            const std::size_t before = pos_;
            SkipSpace();
            if (At("/>") || At(">")) break;
            if (pos_ == before) Fail("attributes without whitespace between them");
            element.attributes.push_back(Attribute());
            element.attributesEnd = pos_;
        }
        element.selfClosed = At("/>");
        pos_ += element.selfClosed ? 2 : 1;
        element.tagEnd = element.contentEnd = pos_;
        const int index = static_cast<int>(document_.elements.size());
        if (open_ >= 0) document_.elements[static_cast<std::size_t>(open_)].children.push_back(index);
        document_.elements.push_back(std::move(element));
        Resolve(index);
        if (!document_.elements.back().selfClosed) {
            open_ = index;
        } else if (open_ < 0) {
            rootEnd_ = pos_;
        }
    }

    XmlAttribute Attribute() {
        XmlAttribute attribute;
        attribute.start = pos_;
        attribute.name = Name();
        SkipSpace();
        Expect('=');
        SkipSpace();
        if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) Fail("an unquoted attribute");
        attribute.quote = text_[pos_];
        attribute.valueStart = ++pos_;
        attribute.valueEnd = text_.find(attribute.quote, pos_);
        if (attribute.valueEnd == kNone) Fail("an unterminated attribute");
        while (pos_ < attribute.valueEnd) {
            const char c = text_[pos_];
            if (c == '<') Fail("'<' in an attribute");
            if (c == '&') {
                attribute.value += Reference();
                if (pos_ > attribute.valueEnd) Fail("a reference across a quote");
                continue;
            }
            // Line ends count as one; every whitespace character becomes a space.
            if (c == '\r' && pos_ + 1 < attribute.valueEnd && text_[pos_ + 1] == '\n') ++pos_;
            attribute.value += IsSpace(c) ? ' ' : c;
            ++pos_;
        }
        ++pos_;
        return attribute;
    }

    // Namespaces of the element just added and its attributes.
    void Resolve(int index) {
        XmlElement& element = document_.elements.back();
        for (XmlAttribute& attribute : element.attributes) {
            const std::string_view name = attribute.name;
            if (name != "xmlns" && name.substr(0, 6) != "xmlns:") continue;
            const std::string_view prefix = name == "xmlns" ? std::string_view() : name.substr(6);
            if (prefix == "xml" || prefix == "xmlns" || attribute.value == kXmlNamespace ||
                attribute.value == kXmlnsNamespace || (!prefix.empty() && attribute.value.empty()) ||
                text_.substr(attribute.valueStart, attribute.valueEnd - attribute.valueStart).find('&') != kNone) {
                Fail("an unusual namespace declaration");
            }
            attribute.declaration = true;
            attribute.uri = kXmlnsNamespace;
            attribute.local = prefix;
            element.bindings.emplace_back(prefix, attribute.value);
        }
        const auto split = [&](std::string_view name, bool isElement, std::string& uri, std::string_view& local) {
            const std::size_t colon = name.find(':');
            local = colon == kNone ? name : name.substr(colon + 1);
            if (colon == kNone && !isElement) return;
            const auto found = NamespaceInScope(document_, index, colon == kNone ? "" : name.substr(0, colon));
            if (!found) Fail("a prefix bound to no namespace");
            uri = *found;
        };
        split(element.name, true, element.uri, element.local);
        for (std::size_t i = 0; i < element.attributes.size(); ++i) {
            XmlAttribute& attribute = element.attributes[i];
            if (!attribute.declaration) split(attribute.name, false, attribute.uri, attribute.local);
            for (std::size_t j = 0; j < i; ++j) {
                const XmlAttribute& other = element.attributes[j];
                if (other.name == attribute.name ||
                    (!attribute.uri.empty() && other.uri == attribute.uri && other.local == attribute.local)) {
                    Fail("an attribute given twice");
                }
            }
        }
    }

    void EndTag() {
        const std::size_t start = pos_;
        pos_ += 2;
        const std::string_view name = Name();
        SkipSpace();
        Expect('>');
        if (open_ < 0) Fail("an end tag without a start tag");
        XmlElement& element = document_.elements[static_cast<std::size_t>(open_)];
        if (element.name != name) Fail("an end tag that does not match its start tag");
        element.contentEnd = start;
        open_ = element.parent;
        if (open_ < 0) rootEnd_ = pos_;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t begin_ = 0;    // after a byte order mark
    std::size_t rootEnd_ = 0;  // after the root element
    int open_ = -1;            // the element whose content the scan is in
    XmlDocument document_;
};

}  // namespace

XmlDocument ScanXml(std::string_view text) { return Scanner(text).Run(); }

std::optional<std::string> NamespaceInScope(const XmlDocument& document, int element, std::string_view prefix) {
    for (int at = element; at >= 0; at = document.elements[static_cast<std::size_t>(at)].parent) {
        for (const auto& [bound, uri] : document.elements[static_cast<std::size_t>(at)].bindings) {
            if (bound == prefix) return uri;
        }
    }
    if (prefix == "xml") return std::string(kXmlNamespace);
    if (prefix.empty()) return std::string();
    return std::nullopt;
}

bool IsXmlText(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            if (lead == 0x7F || (lead < 0x20 && !IsSpace(static_cast<char>(lead)))) return false;
            ++at;
            continue;
        }
        const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                                   : (lead & 0xF0) == 0xE0        ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        if (length == 0 || text.size() - at < length) return false;
        std::uint32_t code = lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kLeast[length] || !IsXmlChar(code)) return false;
        at += length;
    }
    return true;
}
