#include "platform/power.h"

#include <glib.h>

#include <fstream>
#include <string>

bool GetSystemPowerStatus(std::uint8_t* acLineStatus) {
    const char* base = "/sys/class/power_supply";
    GDir* dir = g_dir_open(base, 0, nullptr);
    if (!dir) return false;
    bool found = false;
    *acLineStatus = 255;
    while (const char* name = g_dir_read_name(dir)) {
        std::string folder = std::string(base) + "/" + name;
        std::ifstream type(folder + "/type");
        std::string kind;
        if (!(type >> kind) || kind != "Mains") continue;
        std::ifstream online(folder + "/online");
        int value = 0;
        if (online >> value) {
            *acLineStatus = value ? 1 : 0;
            found = true;
            break;
        }
    }
    g_dir_close(dir);
    return found;
}
