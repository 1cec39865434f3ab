// The simulator's window, with plain Xlib: the panel's B, G, R, 0 pixels are the
// native layout of a 24/32-bit TrueColor visual, so the picture goes straight in.
#include "X11View.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cstdlib>
#include <cstring>

struct X11View {
    Display* dpy = nullptr;
    Window win = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    Atom closeAtom = 0;
    int panels = 1;
};

namespace {
constexpr int kW = 800;
constexpr int kH = 480;
} // namespace

X11View* X11ViewOpen(const std::string& title, int panels) {
    if (!std::getenv("DISPLAY"))
        return nullptr;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return nullptr;
    int screen = DefaultScreen(dpy);
    Visual* visual = DefaultVisual(dpy, screen);
    if (DefaultDepth(dpy, screen) < 24 || visual->c_class != TrueColor) {
        XCloseDisplay(dpy);
        return nullptr;
    }
    auto* v = new X11View;
    v->dpy = dpy;
    v->panels = panels < 1 ? 1 : panels;
    const int width = kW * v->panels;
    v->win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, width, kH, 0,
                                 BlackPixel(dpy, screen), BlackPixel(dpy, screen));
    XStoreName(dpy, v->win, title.c_str());
    XSizeHints hints{};
    hints.flags = PMinSize | PMaxSize;
    hints.min_width = hints.max_width = width;
    hints.min_height = hints.max_height = kH;
    XSetWMNormalHints(dpy, v->win, &hints);
    XSelectInput(dpy, v->win, KeyPressMask | ExposureMask);
    v->closeAtom = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, v->win, &v->closeAtom, 1);
    v->gc = XCreateGC(dpy, v->win, 0, nullptr);
    char* pixels = static_cast<char*>(std::calloc(kW * kH, 4));
    v->image = XCreateImage(dpy, visual, DefaultDepth(dpy, screen), ZPixmap, 0, pixels, kW, kH,
                            32, kW * 4);
    XMapWindow(dpy, v->win);
    XFlush(dpy);
    return v;
}

void X11ViewShow(X11View* v, const uint8_t* bgrx, int index) {
    if (index < 0 || index >= v->panels)
        return;
    std::memcpy(v->image->data, bgrx, static_cast<size_t>(kW) * kH * 4);
    XPutImage(v->dpy, v->win, v->gc, v->image, 0, 0, index * kW, 0, kW, kH);
    XFlush(v->dpy);
}

char X11ViewNextKey(X11View* v) {
    while (XPending(v->dpy)) {
        XEvent ev;
        XNextEvent(v->dpy, &ev);
        if (ev.type == ClientMessage &&
            static_cast<Atom>(ev.xclient.data.l[0]) == v->closeAtom)
            return 'C';
        if (ev.type != KeyPress)
            continue;
        KeySym sym = XLookupKeysym(&ev.xkey, 0);
        if (sym == XK_F12)
            return 'F';
        if (sym < 0x80)
            return static_cast<char>(sym);
    }
    return 0;
}

void X11ViewClose(X11View* v) {
    if (!v)
        return;
    XDestroyImage(v->image); // frees the pixels too
    XFreeGC(v->dpy, v->gc);
    XDestroyWindow(v->dpy, v->win);
    XCloseDisplay(v->dpy);
    delete v;
}
