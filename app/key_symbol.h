// The keysym of a key as X11 and xkb name it, which every desktop's binding speaks in one
// form or another: the X11 grab looks the key up by it, compositors take its name.
#pragma once

#include <QKeyCombination>
#include <cstdint>
#include <string>

namespace varek {

// The keysym of the key, 0 for keys that make no sense in a global combination.
std::uint32_t keysymOf(Qt::Key key);
// Its xkb name ("space", "a", "adiaeresis", "F5"), empty where keysymOf() is 0.
std::string keysymName(Qt::Key key);

}  // namespace varek
