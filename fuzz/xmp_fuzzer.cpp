// The XMP read path on any bytes: the file scan the walk runs on every
// picture it meets, and the container readers and writers a menu choice goes
// through. Input: one byte choosing the format (and the orientation a
// rewrite sets), then the file.
//
// The scan may refuse a file only with the errors its callers expect. A
// container read or rewrite may refuse only with ContainerError; a rewrite
// that succeeds must read back the packet it was given and the orientation
// it was asked to set, and doing it again must change nothing more.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "metadata/xmp_container.h"
#include "metadata/xmp_metadata.h"
#include "metadata/xmp_toolkit.h"
#include "scratch_folder.h"

// The toolkit keeps caches for the life of the process, and some corrupt
// files leak inside it on every read; those are its own, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libexempi.so\n"; }

namespace {

std::string scratchDir;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "container lied: %s\n", what);
        std::abort();
    }
}

struct Choice {
    const char* suffix;
    ContainerFormat format;
};
constexpr Choice kChoices[] = {
    {".jpg", ContainerFormat::Jpeg}, {".png", ContainerFormat::Png},
    {".tif", ContainerFormat::Tiff}, {".webp", ContainerFormat::WebP}};

constexpr char kSmallPacket[] =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

void Scan(const Choice& choice, std::string_view bytes) {
    const std::string path = scratchDir + "/picture" + choice.suffix;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "the scratch picture cannot be written");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    PictureMetadata info;
    try {
        ScanFileForMetadata(path, info);
    } catch (const XmpToolkitError&) {
    } catch (const ContainerError&) {
    }
    unlink(path.c_str());
}

// Rewrites and checks; false when the writer refused.
bool RewriteAndCheck(ContainerFormat format, std::string_view bytes, const ContainerMetadata& held,
                     std::string_view packet, int orientation) {
    std::string rewritten;
    try {
        rewritten = RewriteContainer(format, bytes, packet, orientation);
    } catch (const ContainerError&) {
        return false;
    }
    ContainerMetadata back;
    try {
        back = ReadContainer(format, rewritten);
    } catch (const ContainerError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        Require(false, "a rewritten file does not read");
    }
    Require(back.hasPacket && back.packet == packet, "a rewritten file reads back another packet");
    const bool gainsTag = format == ContainerFormat::Jpeg || format == ContainerFormat::Tiff;
    if (orientation == 0) {
        Require(back.exifOrientation == held.exifOrientation, "a rewrite without a turn changed the orientation");
    } else if (gainsTag || held.exifOrientation != 0) {
        Require(back.exifOrientation == orientation, "a rewrite does not read back its orientation");
    } else {
        // An Orientation tag holding 0 reads as none, yet is there to patch.
        Require(back.exifOrientation == 0 || back.exifOrientation == orientation,
                "a rewrite added an orientation the format only patches");
    }
    std::string again;
    try {
        again = RewriteContainer(format, rewritten, packet, orientation);
    } catch (const ContainerError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        Require(false, "a file just rewritten refuses the same rewrite");
    }
    Require(again == rewritten, "the same rewrite twice gives other bytes");
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchDir = MakeScratchFolder("xmp");
    std::atexit([] { rmdir(scratchDir.c_str()); });
    Require(InitializeXmpToolkit(), "the toolkit does not start");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Choice& choice = kChoices[data[0] % 4];
    const int orientation = (data[0] >> 2) % 9;  // 0: leave it
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    Scan(choice, bytes);

    ContainerMetadata held;
    try {
        held = ReadContainer(choice.format, bytes);
    } catch (const ContainerError&) {
        return 0;
    }
    if (held.hasPacket) RewriteAndCheck(choice.format, bytes, held, held.packet, orientation);
    // A packet of another length moves everything after it.
    RewriteAndCheck(choice.format, bytes, held, kSmallPacket, orientation);
    return 0;
}
