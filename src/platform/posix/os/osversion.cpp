#include "platform/osversion.h"

namespace halyard::platform {

// The layer implements the services as Windows 10 and 11 provide them; both report 10.0.
OsVersion GetOsVersion() {
    return OsVersion{10, 0, 19045, 2};
}

} // namespace halyard::platform
