#include "engine/gl_drivers.h"

#include <cstring>

#include <dlfcn.h>
#include <link.h>

namespace movarin {

void keep_gl_drivers_loaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            // A handle more on a loaded library, never to be closed: it stays mapped.
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

} // namespace movarin
