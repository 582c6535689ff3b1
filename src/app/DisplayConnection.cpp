#include "DisplayConnection.h"

#include <QGuiApplication>

#include <dlfcn.h>

bool DisplayConnection::lost()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The X11 plugin has loaded libxcb already; asking the loaded copy keeps
    // the program free of an X library of its own. RTLD_NOLOAD never loads a
    // second one.
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!xcb)
        return false;
    using HasError = int (*)(xcb_connection_t*);
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const bool broken = hasError && hasError(connection) != 0;
    ::dlclose(xcb);
    return broken;
}
