#include "metadata/xmp_toolkit.h"

#include <memory>
#include <utility>
#include <string>

namespace {

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

}  // namespace

XmpToolkitError::XmpToolkitError(const char* call, int code) : std::runtime_error(Describe(call, code)), code_(code) {}

bool StartXmpToolkit() { return xmp_init(); }

void StopXmpToolkit() { xmp_terminate(); }

XmpMeta::XmpMeta() : meta_(xmp_new_empty()) { Require(meta_ != nullptr, "xmp_new_empty"); }

XmpMeta::~XmpMeta() { xmp_free(meta_); }

bool XmpMeta::GetInt(const char* schema, const char* name, std::int32_t& value) const {
    std::int32_t read = 0;
    if (!Answer(xmp_get_property_int32(meta_, schema, name, &read, nullptr), "xmp_get_property_int32")) return false;
    value = read;
    return true;
}

bool XmpMeta::GetText(const char* schema, const char* name, std::string& value) const {
    const std::unique_ptr<_XmpString, decltype(&xmp_string_free)> text(xmp_string_new(), xmp_string_free);
    Require(text != nullptr, "xmp_string_new");
    if (!Answer(xmp_get_property(meta_, schema, name, text.get(), nullptr), "xmp_get_property")) return false;
    value.assign(xmp_string_cstr(text.get()), xmp_string_len(text.get()));
    return true;
}

void XmpMeta::SetInt(const char* schema, const char* name, std::int32_t value) {
    Require(xmp_set_property_int32(meta_, schema, name, value, 0), "xmp_set_property_int32");
}

void XmpMeta::SetText(const char* schema, const char* name, const std::string& value) {
    Require(xmp_set_property(meta_, schema, name, value.c_str(), 0), "xmp_set_property");
}

void XmpMeta::Parse(std::string_view packet) {
    Require(xmp_parse(meta_, packet.data(), packet.size()), "xmp_parse");
    const auto [at, length] = ToolkitAttribute(packet);
    toolkitName_ = at == std::string_view::npos ? std::string() : std::string(packet.substr(at, length));
}

std::string XmpMeta::Serialize() const {
    const std::unique_ptr<_XmpString, decltype(&xmp_string_free)> text(xmp_string_new(), xmp_string_free);
    Require(text != nullptr, "xmp_string_new");
    Require(xmp_serialize(meta_, text.get(), 0, 2048), "xmp_serialize");
    std::string packet(xmp_string_cstr(text.get()), xmp_string_len(text.get()));
    if (const auto [at, length] = ToolkitAttribute(packet); at != std::string::npos) {
        packet.replace(at, length, toolkitName_);
    }
    return packet;
}

XmpFile::XmpFile() : file_(xmp_files_new()) { Require(file_ != nullptr, "xmp_files_new"); }

XmpFile::~XmpFile() { xmp_files_free(file_); }

void XmpFile::Open(const std::string& path, XmpOpenFileOptions options) {
    // exempi answers false without an error code when no smart handler
    // takes the file; that is a failure to open like any other.
    Require(xmp_files_open(file_, path.c_str(), options), "xmp_files_open");
}

bool XmpFile::GetFileInfo(XmpFileInfo& info) const {
    return Answer(xmp_files_get_file_info(file_, nullptr, &info.openFlags, &info.format, &info.handlerFlags),
                  "xmp_files_get_file_info");
}

bool XmpFile::GetXmp(XmpMeta& meta) { return Answer(xmp_files_get_xmp(file_, meta.Handle()), "xmp_files_get_xmp"); }

void XmpFile::PutXmp(const XmpMeta& meta) { Require(xmp_files_put_xmp(file_, meta.Handle()), "xmp_files_put_xmp"); }

void XmpFile::Close(XmpCloseFileOptions options) { Require(xmp_files_close(file_, options), "xmp_files_close"); }
