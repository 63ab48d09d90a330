// The module's dialog descriptions, kept as data in resources/descriptions.cpp.
// The build turns each into the bytes of its type-1023 resource (zav_gendesc).
#pragma once

#include <string_view>
#include <vector>

#include "host/description.h"

namespace zav {

struct NamedDialogDescription {
    const char* name; // resource name: "VOVEZERA", "CABLENOTFOUND", "PORTLIST", "ABOUT"
    DialogDescription description;
};

// All four, in that order.
const std::vector<NamedDialogDescription>& ModuleDialogDescriptions();

// The description with this resource name, letter case ignored ("VOVEzera"
// finds VOVEZERA, as Windows finds resources); nullptr if there is none.
const DialogDescription* FindDialogDescription(std::string_view name);

} // namespace zav
