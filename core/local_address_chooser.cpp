#include "core/local_address_chooser.h"

#include "core/ipv4_text.h"
#include "core/session_state.h"

namespace vxt {
namespace {

int local_address_count() {
  int n = 0;
  while (n < max_local_addresses && session.local_addresses[n] != 0) ++n;
  return n;
}

}  // namespace

void fill_local_address_chooser(Window* window) {
  const int count = local_address_count();
  for (int i = 0; i < count; ++i) {
    char dotted[16];
    format_ipv4(session.local_addresses[i], dotted);
    list_append(window, local_address_chooser, dotted);
  }
  list_select(window, local_address_chooser, 0);
}

std::uint32_t chosen_local_address(Window* window) {
  const int selected = list_selection(window, local_address_chooser);
  if (selected < 0 || selected >= local_address_count()) return 0;
  return session.local_addresses[selected];
}

}  // namespace vxt
