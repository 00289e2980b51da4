#include "metadata/xmp_toolkit.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <utility>

#include "diag/library_messages.h"

namespace {

// exempi prints the text of every failure it reports on std::cerr, and has
// no switch against it; ordinary bad metadata would fill the session log.
// The code still reaches the caller as an exception, so the text belongs in
// the debug log. std::cerr's buffer is replaced once: on a thread inside a
// toolkit call it collects the text, everywhere else it passes output on
// unchanged.
class ToolkitOutput final : public std::streambuf {
public:
    explicit ToolkitOutput(std::streambuf* passOn) : passOn_(passOn) {}

    static thread_local bool inCall;
    static thread_local std::string said;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (!inCall) return passOn_->sputc(traits_type::to_char_type(c));
        said.push_back(traits_type::to_char_type(c));
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (!inCall) return passOn_->sputn(text, count);
        said.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int sync() override { return inCall ? 0 : passOn_->pubsync(); }

private:
    std::streambuf* passOn_;
};

thread_local bool ToolkitOutput::inCall = false;
thread_local std::string ToolkitOutput::said;

// Held around every call into exempi.
class ToolkitCall {
public:
    ToolkitCall() : outer_(ToolkitOutput::inCall) {
        // Never freed: exempi may still print while the process exits.
        [[maybe_unused]] static ToolkitOutput* const output = [] {
            auto* taken = new ToolkitOutput(std::cerr.rdbuf());
            std::cerr.rdbuf(taken);
            return taken;
        }();
        ToolkitOutput::inCall = true;
    }
    ~ToolkitCall() {
        ToolkitOutput::inCall = outer_;
        if (outer_ || ToolkitOutput::said.empty()) return;
        try {
            LogLibraryMessage("exempi", ToolkitOutput::said);
        } catch (...) {
            // Runs while an exception unwinds; the trace loses a line, nothing more.
        }
        ToolkitOutput::said.clear();
    }
    ToolkitCall(const ToolkitCall&) = delete;
    ToolkitCall& operator=(const ToolkitCall&) = delete;

private:
    bool outer_;
};

constexpr std::string_view kToolkitAttribute = " x:xmptk=";

// Where the x:xmptk attribute stands, either quote; npos when absent.
std::pair<std::size_t, std::size_t> ToolkitAttribute(std::string_view packet) {
    const std::size_t start = packet.find(kToolkitAttribute);
    const std::size_t open = start == std::string_view::npos ? start : start + kToolkitAttribute.size();
    if (open >= packet.size() || (packet[open] != '"' && packet[open] != '\'')) return {std::string_view::npos, 0};
    const std::size_t close = packet.find(packet[open], open + 1);
    if (close == std::string_view::npos) return {std::string_view::npos, 0};
    return {start, close + 1 - start};
}

std::string Describe(const char* call, int code) {
    return std::string(call) + " failed (exempi error " + std::to_string(code) + ")";
}

// For calls whose false means failure.
void Require(bool ok, const char* call) {
    if (!ok) throw XmpToolkitError(call, xmp_get_error());
}

// For calls whose false is also an answer: exempi clears its error state at
// the start of each call, so a false with an error code set is a failure.
bool Answer(bool result, const char* call) {
    if (!result) {
        if (const int code = xmp_get_error(); code != 0) throw XmpToolkitError(call, code);
    }
    return result;
}

XmpFilePtr NewFile() {
    const ToolkitCall call;
    return xmp_files_new();
}

}  // namespace

XmpToolkitError::XmpToolkitError(const char* call, int code) : std::runtime_error(Describe(call, code)), code_(code) {}

bool StartXmpToolkit() {
    const ToolkitCall call;
    return xmp_init();
}

void StopXmpToolkit() {
    const ToolkitCall call;
    xmp_terminate();
}

XmpMeta::XmpMeta() : meta_(xmp_new_empty()) { Require(meta_ != nullptr, "xmp_new_empty"); }

XmpMeta::~XmpMeta() {
    const ToolkitCall call;
    xmp_free(meta_);
}

bool XmpMeta::GetInt(const char* schema, const char* name, std::int32_t& value) const {
    const ToolkitCall call;
    std::int32_t read = 0;
    if (!Answer(xmp_get_property_int32(meta_, schema, name, &read, nullptr), "xmp_get_property_int32")) return false;
    value = read;
    return true;
}

bool XmpMeta::GetText(const char* schema, const char* name, std::string& value) const {
    const ToolkitCall call;
    const std::unique_ptr<_XmpString, decltype(&xmp_string_free)> text(xmp_string_new(), xmp_string_free);
    Require(text != nullptr, "xmp_string_new");
    if (!Answer(xmp_get_property(meta_, schema, name, text.get(), nullptr), "xmp_get_property")) return false;
    value.assign(xmp_string_cstr(text.get()), xmp_string_len(text.get()));
    return true;
}

void XmpMeta::SetInt(const char* schema, const char* name, std::int32_t value) {
    const ToolkitCall call;
    Require(xmp_set_property_int32(meta_, schema, name, value, 0), "xmp_set_property_int32");
}

void XmpMeta::SetText(const char* schema, const char* name, const std::string& value) {
    const ToolkitCall call;
    Require(xmp_set_property(meta_, schema, name, value.c_str(), 0), "xmp_set_property");
}

void XmpMeta::Parse(std::string_view packet) {
    const ToolkitCall call;
    Require(xmp_parse(meta_, packet.data(), packet.size()), "xmp_parse");
    const auto [at, length] = ToolkitAttribute(packet);
    toolkitName_ = at == std::string_view::npos ? std::string() : std::string(packet.substr(at, length));
}

std::string XmpMeta::Serialize() const { return Serialize(0, 2048); }

// A padding of 0 would ask the toolkit for its usual amount; 1 is none to speak of.
std::string XmpMeta::SerializeAlone(bool wrapped) const {
    return Serialize(wrapped ? 0 : XMP_SERIAL_OMITPACKETWRAPPER, 1);
}

std::string XmpMeta::Serialize(std::uint32_t options, std::uint32_t padding) const {
    const ToolkitCall call;
    const std::unique_ptr<_XmpString, decltype(&xmp_string_free)> text(xmp_string_new(), xmp_string_free);
    Require(text != nullptr, "xmp_string_new");
    Require(xmp_serialize(meta_, text.get(), options, padding), "xmp_serialize");
    std::string packet(xmp_string_cstr(text.get()), xmp_string_len(text.get()));
    if (const auto [at, length] = ToolkitAttribute(packet); at != std::string::npos) {
        packet.replace(at, length, toolkitName_);
    }
    return packet;
}

std::vector<XmpNode> XmpMeta::Nodes() const {
    const ToolkitCall call;
    using Text = std::unique_ptr<_XmpString, decltype(&xmp_string_free)>;
    const auto newText = [] {
        Text text(xmp_string_new(), xmp_string_free);
        Require(text != nullptr, "xmp_string_new");
        return text;
    };
    const Text schema = newText(), path = newText(), value = newText();
    const std::unique_ptr<_XmpIterator, decltype(&xmp_iterator_free)> iterator(
        xmp_iterator_new(meta_, nullptr, nullptr, XMP_ITER_PROPERTIES), xmp_iterator_free);
    Require(iterator != nullptr, "xmp_iterator_new");
    std::vector<XmpNode> nodes;
    std::uint32_t options = 0;
    while (Answer(xmp_iterator_next(iterator.get(), schema.get(), path.get(), value.get(), &options),
                  "xmp_iterator_next")) {
        nodes.push_back({xmp_string_cstr(schema.get()), xmp_string_cstr(path.get()), xmp_string_cstr(value.get()),
                         options});
    }
    return nodes;
}

namespace {

bool StartsWithGzip(const std::string& path) {
    unsigned char magic[2] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(magic), sizeof magic);
    return in.gcount() == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

}  // namespace

XmpFile::XmpFile() : file_(NewFile()) { Require(file_ != nullptr, "xmp_files_new"); }

XmpFile::~XmpFile() {
    const ToolkitCall call;
    xmp_files_free(file_);
}

void XmpFile::Open(const std::string& path, XmpOpenFileOptions options) {
    // exempi's SVG handler inflates every gzip stream to look for an SVG and
    // leaks its zlib state when the stream holds anything else: 7 KB for each
    // compressed manual or log the walk meets. A compressed SVG would open,
    // but no loader we trust draws SVG, so nothing compressed is shown either way.
    if (StartsWithGzip(path)) throw XmpToolkitError("xmp_files_open", 0);
    const ToolkitCall call;
    // exempi answers false without an error code when no smart handler
    // takes the file; that is a failure to open like any other.
    Require(xmp_files_open(file_, path.c_str(), options), "xmp_files_open");
}

bool XmpFile::GetFileInfo(XmpFileInfo& info) const {
    const ToolkitCall call;
    return Answer(xmp_files_get_file_info(file_, nullptr, &info.openFlags, &info.format, &info.handlerFlags),
                  "xmp_files_get_file_info");
}

bool XmpFile::GetXmp(XmpMeta& meta) {
    const ToolkitCall call;
    return Answer(xmp_files_get_xmp(file_, meta.Handle()), "xmp_files_get_xmp");
}

void XmpFile::PutXmp(const XmpMeta& meta) {
    const ToolkitCall call;
    Require(xmp_files_put_xmp(file_, meta.Handle()), "xmp_files_put_xmp");
}

void XmpFile::Close(XmpCloseFileOptions options) {
    const ToolkitCall call;
    Require(xmp_files_close(file_, options), "xmp_files_close");
}
