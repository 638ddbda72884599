// Feeds arbitrary device responses to the parsers that read them: the refusal test with its
// challenge parser, the challenge parser alone, the labelled texts, and the Authorization line
// built from whatever state they left. Any overrun is ASan's; broken invariants abort.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "web/digest.h"
#include "web/http_exchange.h"

namespace {

template <std::size_t N>
void require_terminated(const char (&field)[N]) {
  if (std::memchr(field, '\0', N) == nullptr) std::abort();
}

void require_terminated_state(const vxt::DigestState& d) {
  require_terminated(d.previous_nonce);
  require_terminated(d.nonce);
  require_terminated(d.cnonce);
  require_terminated(d.realm);
  require_terminated(d.qop);
  require_terminated(d.algorithm);
  require_terminated(d.opaque);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly the bytes and a terminator, as http_get holds a response: anything read past them
  // is a heap overflow.
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';

  vxt::DigestState digest;
  std::strcpy(digest.user, "admin");
  std::strcpy(digest.password, "secret");
  std::strcpy(digest.uri, "/admin/advanced");
  const bool refused = vxt::demands_credentials(text.get(), digest);
  require_terminated_state(digest);
  if (refused && std::strncmp(text.get(), "HTTP/1.1", 8) != 0) std::abort();

  vxt::DigestState direct;
  if (vxt::parse_challenge(text.get(), direct)) {
    require_terminated_state(direct);
    if (direct.nonce_count != 0) std::abort();  // a first nonce always restarts the count
    direct.nonce_count = 1;
    char line[2048];
    const int length = vxt::build_authorization(direct, line, sizeof line);
    if (length <= 0 || static_cast<std::size_t>(length) != std::strlen(line)) std::abort();
    if (std::strcmp(line + length - 2, "\r\n") != 0) std::abort();
  }

  const char* labels[] = {
      "Product Name:", "MAC Address:", "Software Version:", "Hardware Version:", "Serial Number:"};
  for (const char* label : labels) {
    // Exactly the field's 128 bytes, so a write past it is caught.
    std::unique_ptr<char[]> field(new char[128]);
    std::memcpy(field.get(), "untouched", 10);
    vxt::extract_labelled_text(text.get(), label, field.get(), 127);
    const std::size_t n = strnlen(field.get(), 128);
    if (n == 128 || std::memchr(field.get(), '<', n) != nullptr) std::abort();
  }
  return 0;
}
