#include "engine/render_display.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

namespace movarin::detail {

void add_display_param(std::vector<mpv_render_param>& params) {
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (Display* display = x11->display())
            params.push_back({MPV_RENDER_PARAM_X11_DISPLAY, display});
}

} // namespace movarin::detail
