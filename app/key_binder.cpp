#include "app/key_binder.h"

namespace varek {

KeyBinder::~KeyBinder() = default;

}  // namespace varek
