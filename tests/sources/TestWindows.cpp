// A small X11 program the window-source tests drive over its standard input: it opens plain
// windows filled with one colour, renames and closes them. One command a line:
//   open <tag> <rrggbb> [name...]   -> prints "<tag> <window id>" once the window is mapped
//   rename <tag> <name...>          -> prints "<tag> renamed"
//   close <tag>                     -> prints "<tag> closed"

#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return value;
}

void setName(xcb_connection_t* c, xcb_window_t w, const std::string& name)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, uint32_t(name.size()), name.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 8,
                        uint32_t(name.size()), name.data());
}

std::string rest(std::istringstream& in)
{
    std::string text;
    std::getline(in >> std::ws, text);
    return text;
}

}  // namespace

int main()
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    std::map<std::string, xcb_window_t> windows;
    std::string line;
    int offset = 0;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command, tag;
        in >> command >> tag;
        if (command == "open") {
            std::string colour;
            in >> colour;
            const uint32_t pixel = uint32_t(std::stoul(colour, nullptr, 16));
            const xcb_window_t w = xcb_generate_id(c);
            const uint32_t values[] = {pixel};
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(20 + offset), int16_t(20 + offset), 160, 120,
                              0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
            offset += 30;
            const std::string name = rest(in);
            if (!name.empty())
                setName(c, w, name);
            const uint32_t pid = uint32_t(getpid());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
            static const char wmClass[] = "kavio-test-windows\0KavioTestWindows";
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);
            xcb_map_window(c, w);
            xcb_clear_area(c, 0, w, 0, 0, 0, 0);
            free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip: mapped
            windows[tag] = w;
            std::cout << tag << ' ' << w << std::endl;
        } else if (command == "rename" && windows.count(tag)) {
            setName(c, windows[tag], rest(in));
            free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            std::cout << tag << " renamed" << std::endl;
        } else if (command == "close" && windows.count(tag)) {
            xcb_destroy_window(c, windows[tag]);
            windows.erase(tag);
            free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            std::cout << tag << " closed" << std::endl;
        }
    }
    xcb_disconnect(c);
    return 0;
}
