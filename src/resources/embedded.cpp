// The artwork and dialog templates compiled into the program, registered
// with the platform's lookups before main runs.
#include <cstdint>

#include "platform/resource.h"
#include "resources/dialogs.h"
#include "resources/resource_ids.h"

namespace {

constexpr std::uint8_t kStar[] = {
#include "resources/star.png.inc"
};
constexpr std::uint8_t kBanner[] = {
#include "resources/banner.png.inc"
};
constexpr std::uint8_t kIcon[] = {
#include "resources/icon.png.inc"
};
constexpr std::uint8_t kLogo[] = {
#include "resources/logo.png.inc"
};

constexpr EmbeddedResource kTable[] = {
    {ResourceType::Png, kStarPngId, kStar},
    {ResourceType::Png, kBannerPngId, kBanner},
    {ResourceType::Icon, kSaverIconId, kIcon},
    {ResourceType::Png, kLogoPngId, kLogo},
};

}  // namespace

// Nothing refers to this object, so a static-library link would drop it and
// the registration with it; the build names this symbol as undefined
// (see CMakeLists.txt) so the linker always takes it.
extern "C" const bool kaleidraResourcesRegistered;
extern "C" const bool kaleidraResourcesRegistered =
    (RegisterResources(kTable), RegisterDialogTemplates(DialogTemplates()), true);
