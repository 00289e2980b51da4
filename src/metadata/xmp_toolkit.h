// A thin binding over exempi. exempi reports failure through return values
// and its error state; here every such failure is raised as XmpToolkitError,
// so callers see one failure mechanism. Answers that are not failures (no
// file open, no metadata, property absent) come back as false.
#pragma once

#include <exempi/xmp.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class XmpToolkitError : public std::runtime_error {
public:
    XmpToolkitError(const char* call, int code);
    int Code() const { return code_; }  // exempi's error code; 0 when it gave none

private:
    int code_;
};

// Both halves of the toolkit (metadata core and file handlers) together:
// exempi brings them up and down as one.
bool StartXmpToolkit();
void StopXmpToolkit();

// One node of the property tree as the toolkit walks it: a schema (empty
// path), a property, an array item, a structure field or a qualifier.
struct XmpNode {
    std::string schema;  // namespace URI of the top-level property
    std::string path;    // from the schema, e.g. "dc:title[1]/?xml:lang"
    std::string value;
    std::uint32_t options = 0;  // XMP_PROP_* bits; kXmpSchemaNode for a schema
};
// exempi's headers test for this bit but do not define it.
constexpr std::uint32_t kXmpSchemaNode = 0x80000000u;

class XmpMeta {
public:
    XmpMeta();  // empty metadata
    ~XmpMeta();
    XmpMeta(const XmpMeta&) = delete;
    XmpMeta& operator=(const XmpMeta&) = delete;

    // False and value untouched when absent; raises when present but not an integer.
    bool GetInt(const char* schema, const char* name, std::int32_t& value) const;
    bool GetText(const char* schema, const char* name, std::string& value) const;
    void SetInt(const char* schema, const char* name, std::int32_t value);
    void SetText(const char* schema, const char* name, const std::string& value);

    // Replaces the contents by the packet's; raises when it does not parse.
    void Parse(std::string_view packet);
    // A complete packet (wrapper and the toolkit's usual padding included)
    // whose x:xmptk attribute is the one the parsed packet had, or none: the
    // toolkit would otherwise sign every packet it writes with its own name.
    std::string Serialize() const;
    // The same for a file of its own (a sidecar): no padding, which only
    // serves edits in place inside a picture, and the wrapper only if asked.
    std::string SerializeAlone(bool wrapped) const;
    // Every node, depth first in the toolkit's order, qualifiers included.
    std::vector<XmpNode> Nodes() const;

    XmpPtr Handle() const { return meta_; }

private:
    std::string Serialize(std::uint32_t options, std::uint32_t padding) const;

    XmpPtr meta_;
    std::string toolkitName_;  // x:xmptk of the parsed packet; empty when it had none
};

struct XmpFileInfo {
    XmpOpenFileOptions openFlags{};
    XmpFileType format{};
    XmpFileFormatOptions handlerFlags{};
};

class XmpFile {
public:
    XmpFile();  // no file open
    // Releases a file still open without writing it.
    ~XmpFile();
    XmpFile(const XmpFile&) = delete;
    XmpFile& operator=(const XmpFile&) = delete;

    // The path's bytes go to exempi as they stand. Raises when the file cannot
    // be opened or no smart handler exists for its format.
    void Open(const std::string& path, XmpOpenFileOptions options);
    // False when no file is open.
    bool GetFileInfo(XmpFileInfo& info) const;
    // False when the file has no metadata; otherwise fills meta.
    bool GetXmp(XmpMeta& meta);
    void PutXmp(const XmpMeta& meta);
    // Writes the file after PutXmp on a file opened for update; releases it otherwise.
    void Close(XmpCloseFileOptions options);

private:
    XmpFilePtr file_;
};

constexpr XmpOpenFileOptions kXmpOpenForRead =
    static_cast<XmpOpenFileOptions>(XMP_OPEN_READ | XMP_OPEN_USESMARTHANDLER);  // 0x21
constexpr XmpOpenFileOptions kXmpOpenForUpdate =
    static_cast<XmpOpenFileOptions>(XMP_OPEN_FORUPDATE | XMP_OPEN_USESMARTHANDLER);  // 0x22
