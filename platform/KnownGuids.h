// Every interface and class id the system defines, with its registry text form.
#pragma once

#include "ComBase.h"

#include <vector>

struct KnownGuid {
    const char* name; // the variable's name, e.g. "IID_IUnknown"
    const char* text; // braced upper-case form, e.g. "{00000000-0000-0000-C000-000000000046}"
    const GUID* id;
};

const std::vector<KnownGuid>& KnownGuids();
