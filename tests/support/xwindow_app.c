/* A stand-in for a product program: opens top-level windows on the display and runs until
 * it is killed.
 *   --windows N     how many windows (default 1; 0 for none)
 *   --unmapped      leave the windows unmapped (invisible)
 *   --no-pid        don't set _NET_WM_PID (the display's client ids still tell the pid)
 *   --title TEXT    the windows' title
 *   --ready FILE    created once the windows exist on the display */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

static xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    free(r);
    return a;
}

int main(int argc, char** argv) {
    int windows = 1, mapped = 1, setPid = 1;
    const char* title = "Product window";
    const char* ready = NULL;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--windows") && i + 1 < argc)
            windows = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--unmapped"))
            mapped = 0;
        else if (!strcmp(argv[i], "--no-pid"))
            setPid = 0;
        else if (!strcmp(argv[i], "--title") && i + 1 < argc)
            title = argv[++i];
        else if (!strcmp(argv[i], "--ready") && i + 1 < argc)
            ready = argv[++i];
    }
    xcb_connection_t* c = NULL;
    if (windows > 0) {
        c = xcb_connect(NULL, NULL);
        if (xcb_connection_has_error(c)) return 2;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_atom_t pidAtom = Atom(c, "_NET_WM_PID");
        uint32_t pid = (uint32_t)getpid();
        static const char klass[] = "kvtest\0KVTestWindow\0";
        for (int i = 0; i < windows; ++i) {
            xcb_window_t w = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 10 * i, 10, 100, 80, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, NULL);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                (uint32_t)strlen(title), title);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                                sizeof klass - 1, klass);
            if (setPid)
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, pidAtom, XCB_ATOM_CARDINAL, 32, 1,
                                    &pid);
            if (mapped) xcb_map_window(c, w);
        }
        /* A round trip: everything above has reached the server. */
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
    }
    if (ready) {
        FILE* f = fopen(ready, "w");
        if (f) fclose(f);
    }
    for (;;) {
        if (c) {
            xcb_generic_event_t* e = xcb_wait_for_event(c);
            if (!e) return 0; /* the display went away */
            free(e);
        } else {
            pause();
        }
    }
}
