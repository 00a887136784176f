#include "window/window_manager.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace movarin {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw, xcb_generic_error_t* error) {
    std::free(error);
    return Reply<T>(raw, &std::free);
}

xcb_atom_t checkAtom(xcb_connection_t* c) {
    static constexpr char kName[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_generic_error_t* error = nullptr;
    // Only if it exists: an atom nobody made means no window manager ever ran here.
    const auto atom = reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), &error), error);
    return atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t window) {
    if (window != XCB_WINDOW_NONE) {
        xcb_generic_error_t* error = nullptr;
        if (const auto tree =
                reply(xcb_query_tree_reply(c, xcb_query_tree(c, window), &error), error))
            return tree->root;
    }
    const xcb_screen_iterator_t first = xcb_setup_roots_iterator(xcb_get_setup(c));
    return first.rem ? first.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

std::optional<XWindowId> readCheck(xcb_connection_t* c, xcb_atom_t atom, XWindowId window) {
    xcb_generic_error_t* error = nullptr;
    // A window that is gone answers with an error and no reply.
    const auto property =
        reply(xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, XCB_ATOM_WINDOW, 0, 1),
                                     &error),
              error);
    if (!property || property->type != XCB_ATOM_WINDOW || property->format != 32 ||
        xcb_get_property_value_length(property.get()) < int(sizeof(XWindowId)))
        return std::nullopt;
    return *static_cast<const XWindowId*>(xcb_get_property_value(property.get()));
}

} // namespace

bool x_window_manager_running(unsigned long long window) {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    const xcb_atom_t atom = checkAtom(c);
    if (atom == XCB_ATOM_NONE)
        return false;
    return window_manager_running(rootOf(c, xcb_window_t(window)),
                                  [&](XWindowId id) { return readCheck(c, atom, id); });
}

} // namespace movarin
