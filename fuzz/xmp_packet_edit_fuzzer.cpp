// The packet editor on any bytes, with the toolkit as the judge of what an
// edit means. Input: one byte choosing the properties, their values and
// whether the size is kept, then the packet.
//
// The editor may refuse only with PacketEditError. Where it edits a packet
// the toolkit reads, the toolkit must read the result as the same metadata
// with the chosen properties set; the same edit again must change nothing;
// with the size kept, the result may be longer only when the packet's
// padding was too short to take the difference.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <exempi/xmpconsts.h>

#include "metadata/xmp_metadata.h"
#include "metadata/xmp_packet_edit.h"
#include "metadata/xmp_toolkit.h"

// The toolkit keeps caches for the life of the process, and some corrupt
// packets leak inside it on every parse; those are its own, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libexempi.so\n"; }

namespace {

void Require(bool condition, const char* what, const std::string& detail = {}) {
    if (!condition) {
        std::fprintf(stderr, "editor lied: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

constexpr const char* kRatings[] = {"0", "5", "-1", "12"};
constexpr const char* kLabels[] = {"private", "none", "", "a&<'\"]]> \t\r\n b"};
constexpr const char* kTurns[] = {"1", "6", "8", "3"};

bool ToolkitReads(std::string_view packet) {
    try {
        XmpMeta meta;
        meta.Parse(packet);
        return true;
    } catch (const XmpToolkitError&) {
        return false;
    }
}

// The whitespace before a trailer that ends the packet; npos without one.
// Ending the packet, a trailer cannot stand inside a comment or element, but
// it can end a processing instruction begun earlier.
std::size_t TrailerPadding(std::string_view packet) {
    const std::size_t end = packet.find_last_not_of(" \t\r\n");
    if (end == std::string_view::npos) return end;
    const std::string_view trimmed = packet.substr(0, end + 1);
    for (const std::string_view trailer : {"<?xpacket end=\"w\"?>", "<?xpacket end='w'?>"}) {
        if (trimmed.size() < trailer.size() || trimmed.substr(trimmed.size() - trailer.size()) != trailer) continue;
        const std::size_t start = trimmed.size() - trailer.size();
        if (start == 0) return 0;
        const std::size_t open = packet.rfind("<?", start - 1);
        if (open != std::string_view::npos && packet.find("?>", open) >= start) return std::string_view::npos;
        return start - (packet.find_last_not_of(" \t\r\n", start - 1) + 1);
    }
    return std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Require(InitializeXmpToolkit(), "the toolkit does not start");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned choice = data[0];
    const std::string_view packet(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<PacketProperty> chosen;
    if (choice & 1) chosen.push_back({NS_XAP, "Rating", kRatings[(choice >> 4) & 3]});
    if (choice & 2) chosen.push_back({NS_XAP, "Label", kLabels[(choice >> 6) & 3]});
    if (choice & 4) chosen.push_back({NS_TIFF, "Orientation", kTurns[(choice >> 4) & 3]});
    const bool keepSize = choice & 8;

    std::string edited;
    try {
        edited = EditPacket(packet, chosen, keepSize);
    } catch (const PacketEditError&) {
        return 0;
    }
    if (ToolkitReads(packet)) {
        const std::string difference = PacketDifference(packet, edited, chosen);
        Require(difference.empty(), "an edit changed more than it was asked to:", difference);
    }
    std::string again;
    try {
        again = EditPacket(edited, chosen, keepSize);
    } catch (const PacketEditError& error) {
        Require(false, "an edited packet refuses the same edit:", error.what());
    }
    Require(again == edited, "the same edit twice gives other bytes");
    if (keepSize && edited.size() != packet.size()) {
        const std::size_t padding = TrailerPadding(packet);
        Require(padding == std::string_view::npos ||
                    (edited.size() > packet.size() && edited.size() - packet.size() > padding),
                "a kept size was not kept:",
                std::to_string(packet.size()) + " bytes became " + std::to_string(edited.size()));
    }
    return 0;
}
