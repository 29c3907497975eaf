// Top-level windows through xcb (the root window's children) and their processes through
// the X-Resource extension or _NET_WM_PID.
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace plat {
namespace {

// The one connection to the display, opened on first use and opened again when the
// display changes or the server went away.
class TDisplay {
public:
    ~TDisplay() { Close(); }

    xcb_connection_t* Get() {
        const char* env = std::getenv("DISPLAY");
        std::string name = env ? env : "";
        if (FConn && (xcb_connection_has_error(FConn) || name != FName)) Close();
        if (FConn || name.empty()) return FConn;
        int screenNumber = 0;
        xcb_connection_t* conn = xcb_connect(name.c_str(), &screenNumber);
        if (xcb_connection_has_error(conn)) {
            xcb_disconnect(conn);
            return nullptr;
        }
        const xcb_setup_t* setup = xcb_get_setup(conn);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
        if (!it.rem) {
            xcb_disconnect(conn);
            return nullptr;
        }
        FConn = conn;
        ++FGeneration;
        FName = name;
        FRoot = it.data->root;
        FHasRes = false;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_res_id);
        if (ext && ext->present) {
            auto* version = xcb_res_query_version_reply(
                conn, xcb_res_query_version(conn, XCB_RES_MAJOR_VERSION, XCB_RES_MINOR_VERSION),
                nullptr);
            // Client ids came with version 1.2.
            FHasRes = version && (version->server_major > 1 ||
                                  (version->server_major == 1 && version->server_minor >= 2));
            free(version);
        }
        FAtoms.clear();
        return FConn;
    }

    xcb_window_t Root() const { return FRoot; }
    // Changes whenever the connection is closed or another one is opened.
    unsigned Generation() const { return FGeneration; }
    bool HasRes() const { return FHasRes; }

    xcb_atom_t Atom(const char* name) {
        for (const auto& [n, a] : FAtoms)
            if (n == name) return a;
        auto* reply = xcb_intern_atom_reply(
            FConn, xcb_intern_atom(FConn, 1, static_cast<uint16_t>(strlen(name)), name), nullptr);
        xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        // An atom nobody made yet may be made later (by a window manager that starts).
        if (atom != XCB_ATOM_NONE) FAtoms.emplace_back(name, atom);
        return atom;
    }

private:
    void Close() {
        if (FConn) {
            xcb_disconnect(FConn);
            ++FGeneration;
        }
        FConn = nullptr;
        FName.clear();
    }

    xcb_connection_t* FConn = nullptr;
    std::string FName;
    xcb_window_t FRoot = 0;
    bool FHasRes = false;
    unsigned FGeneration = 0;
    std::vector<std::pair<std::string, xcb_atom_t>> FAtoms;
};

TDisplay& Display() {
    static TDisplay display;
    return display;
}

// A property's bytes; empty when the window or the property is missing.
std::string Property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                     uint32_t maxLongs) {
    if (prop == XCB_ATOM_NONE) return {};
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, maxLongs), nullptr);
    if (!reply) return {};
    std::string value;
    if (reply->type != XCB_ATOM_NONE)
        value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     xcb_get_property_value_length(reply));
    free(reply);
    return value;
}

std::string Limit(std::string text, size_t maxChars) {
    // Window texts end at their first zero, as a C text does.
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

bool WindowExists(xcb_connection_t* c, xcb_window_t w) {
    auto* attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    free(attrs);
    return attrs != nullptr;
}

uint32_t PidOfWindow(xcb_connection_t* c, xcb_window_t w) {
    TDisplay& d = Display();
    // The client ids answer for any id in a client's range, window or not.
    if (!WindowExists(c, w)) return 0;
    if (d.HasRes()) {
        xcb_res_client_id_spec_t clientId{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        auto* reply =
            xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &clientId), nullptr);
        uint32_t pid = 0;
        if (reply) {
            auto it = xcb_res_query_client_ids_ids_iterator(reply);
            // Only the process id was asked for, so every value that answers holds it.
            for (; it.rem; xcb_res_client_id_value_next(&it)) {
                if (xcb_res_client_id_value_value_length(it.data) >= 1) {
                    pid = *xcb_res_client_id_value_value(it.data);
                    break;
                }
            }
            free(reply);
        }
        if (pid) return pid;
    }
    std::string value = Property(c, w, d.Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
    uint32_t pid = 0;
    if (value.size() >= 4) memcpy(&pid, value.data(), 4);
    return pid;
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t w) {
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree);
    std::vector<xcb_window_t> list(children, children + xcb_query_tree_children_length(tree));
    free(tree);
    return list;
}

bool HasWmState(xcb_connection_t* c, xcb_window_t w) {
    xcb_atom_t wmState = Display().Atom("WM_STATE");
    if (wmState == XCB_ATOM_NONE) return false;
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr);
    bool has = reply && reply->type != XCB_ATOM_NONE;
    free(reply);
    return has;
}

// A window manager puts each program's window into a frame of its own; the frame belongs
// to the window manager. The program's window is the one inside that carries WM_STATE.
// Without a window manager (or for its own windows) the root's child stands for itself.
xcb_window_t ClientWindow(xcb_connection_t* c, xcb_window_t top, int depth) {
    if (HasWmState(c, top)) return top;
    std::vector<xcb_window_t> level = Children(c, top);
    for (int i = 0; i < depth && !level.empty(); ++i) {
        std::vector<xcb_window_t> next;
        for (xcb_window_t w : level) {
            if (HasWmState(c, w)) return w;
            std::vector<xcb_window_t> below = Children(c, w);
            next.insert(next.end(), below.begin(), below.end());
        }
        level = std::move(next);
    }
    return top;
}

} // namespace

void EnumWindows(const std::function<bool(TWindowHandle)>& visit) {
    TDisplay& d = Display();
    xcb_connection_t* c = d.Get();
    if (!c) return;
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, d.Root()), nullptr);
    if (!tree && xcb_connection_has_error(c)) {
        // The server we knew went away; a new one may stand under the same name.
        c = d.Get();
        if (!c) return;
        tree = xcb_query_tree_reply(c, xcb_query_tree(c, d.Root()), nullptr);
    }
    if (!tree) return;
    // Copied first: the visitor may talk to the server and the reply must not be held.
    const xcb_window_t* children = xcb_query_tree_children(tree);
    std::vector<xcb_window_t> windows(children, children + xcb_query_tree_children_length(tree));
    free(tree);
    // A visit that finds the server gone closes the connection held here; the windows still
    // to come went with the server.
    const unsigned generation = d.Generation();
    for (xcb_window_t w : windows) {
        if (d.Generation() != generation) break;
        if (!visit(ClientWindow(c, w, 3))) break;
    }
}

std::string WindowText(TWindowHandle window, size_t maxChars) {
    TDisplay& d = Display();
    xcb_connection_t* c = d.Get();
    if (!c) return {};
    uint32_t longs = static_cast<uint32_t>(maxChars / 4 + 1);
    std::string text = Property(c, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, longs);
    if (text.empty())
        text = Property(c, window, d.Atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, longs);
    return Limit(text, maxChars);
}

std::string WindowClassName(TWindowHandle window, size_t maxChars) {
    TDisplay& d = Display();
    xcb_connection_t* c = d.Get();
    if (!c) return {};
    // WM_CLASS holds the instance name, a zero, the class name and a zero.
    std::string value = Property(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
    size_t zero = value.find('\0');
    std::string name = zero == std::string::npos ? std::string() : value.substr(zero + 1);
    return Limit(name, maxChars);
}

bool WindowVisible(TWindowHandle window) {
    xcb_connection_t* c = Display().Get();
    if (!c) return false;
    auto* attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    bool visible = attrs && attrs->map_state != XCB_MAP_STATE_UNMAPPED;
    free(attrs);
    return visible;
}

uint32_t WindowThreadProcessId(TWindowHandle window, uint32_t* processId) {
    xcb_connection_t* c = Display().Get();
    uint32_t pid = c ? PidOfWindow(c, window) : 0;
    if (processId) *processId = pid;
    return pid; // threads own no windows here: the process stands for its thread
}

} // namespace plat
