#pragma once

#include <tsl/ordered_map.h>

namespace tarnwick::text {

// Map that keeps insertion order. Storing under an existing key keeps the key's place. Look up
// with find/at/contains: operator[] inserts.
template <class Key, class Value>
using OrderedMap = tsl::ordered_map<Key, Value>;

} // namespace tarnwick::text
