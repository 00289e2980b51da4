// The program's dialog templates, registered with the platform's dialogs
// together with the other embedded resources.
#pragma once

#include <span>

#include "platform/dialog_template.h"

std::span<const DialogTemplate> DialogTemplates();
