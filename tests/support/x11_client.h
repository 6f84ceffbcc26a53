// Another X client on the test display, as a desktop that binds key combinations itself
// would be: it can take a key grab before the launcher does.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace varek::test {

struct OtherClient {
  xcb_window_t root() const {
    return xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root;
  }
  xcb_keycode_t keycode(xcb_keysym_t symbol) const {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols.get(), symbol);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    return code;
  }
  // Whether the server lets this client have the key with these modifiers; it keeps what
  // it gets.
  bool grab(xcb_keysym_t symbol, std::uint16_t modifiers) {
    xcb_generic_error_t* error = xcb_request_check(
        connection.get(),
        xcb_grab_key_checked(connection.get(), 0, root(), modifiers, keycode(symbol),
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    std::free(error);
    return error == nullptr;
  }

  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection{
      xcb_connect(nullptr, nullptr), &xcb_disconnect};
  std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols{
      xcb_key_symbols_alloc(connection.get()), &xcb_key_symbols_free};
};

}  // namespace varek::test
