// The drop-down list of the PC's own addresses, shared by the address and recovery screens.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace vxt {

constexpr int local_address_chooser = 1017;

// Lists the entries of `local_addresses` up to the first 0 (at most 8), dotted, and selects
// the first.
void fill_local_address_chooser(Window* window);

// The entry at the selected position; 0 (any local address) when nothing can be selected.
std::uint32_t chosen_local_address(Window* window);

}  // namespace vxt
