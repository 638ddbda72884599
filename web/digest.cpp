#include "web/digest.h"

#include <cstdio>
#include <cstring>

#include "core/random.h"
#include "web/md5.h"

namespace vxt {
namespace {

// The quoted value of `key` (which carries its opening quote) at its first occurrence, up to
// the next quote or the end of the text, cut to the field. False when the key does not occur.
template <std::size_t N>
bool take_quoted(const char* text, const char* key, char (&field)[N]) {
  const char* found = std::strstr(text, key);
  if (found == nullptr) return false;
  const char* value = found + std::strlen(key);
  const char* end = std::strchr(value, '"');
  std::size_t length = end != nullptr ? static_cast<std::size_t>(end - value) : std::strlen(value);
  if (length > N - 1) length = N - 1;
  std::memcpy(field, value, length);
  field[length] = '\0';
  return true;
}

template <std::size_t N>
void take_quoted_or_empty(const char* text, const char* key, char (&field)[N]) {
  if (!take_quoted(text, key, field)) field[0] = '\0';
}

bool equals_ignoring_case(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    const char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

void md5_add(Md5Context& context, const char* text) {
  md5_update(context, text, std::strlen(text));
}

std::string md5_of_joined(std::initializer_list<const char*> parts) {
  Md5Context context;
  md5_init(context);
  bool first = true;
  for (const char* part : parts) {
    if (!first) md5_add(context, ":");
    md5_add(context, part);
    first = false;
  }
  return to_hex(md5_final(context));
}

}  // namespace

bool parse_challenge(const char* challenge, DigestState& digest) {
  if (!take_quoted(challenge, "realm=\"", digest.realm)) return false;
  if (!take_quoted(challenge, "nonce=\"", digest.nonce)) return false;
  if (std::strcmp(digest.nonce, digest.previous_nonce) != 0) {
    std::memcpy(digest.previous_nonce, digest.nonce, sizeof digest.nonce);
    digest.nonce_count = 0;
  }
  std::snprintf(digest.cnonce, sizeof digest.cnonce, "%x", static_cast<unsigned>(next_random()));
  take_quoted_or_empty(challenge, "algorithm=\"", digest.algorithm);
  take_quoted_or_empty(challenge, "qop=\"", digest.qop);
  take_quoted_or_empty(challenge, "opaque=\"", digest.opaque);
  return true;
}

std::string compute_ha1(const char* algorithm, const char* user, const char* realm,
                        const char* password, const char* nonce, const char* cnonce) {
  Md5Context context;
  md5_init(context);
  md5_add(context, user);
  md5_add(context, ":");
  md5_add(context, realm);
  md5_add(context, ":");
  md5_add(context, password);
  Md5Digest d = md5_final(context);
  if (equals_ignoring_case(algorithm, "md5-sess")) {
    md5_init(context);
    md5_update(context, d.data(), d.size());  // the raw digest, not its hexadecimal text
    md5_add(context, ":");
    md5_add(context, nonce);
    md5_add(context, ":");
    md5_add(context, cnonce);
    d = md5_final(context);
  }
  return to_hex(d);
}

std::string compute_request_digest(const char* ha1, const char* nonce, const char* nc,
                                   const char* cnonce, const char* qop, const char* method,
                                   const char* uri, const char* body) {
  std::string ha2;
  if (equals_ignoring_case(qop, "auth-int")) {
    const std::string body_hash = to_hex(md5(body, std::strlen(body)));
    ha2 = md5_of_joined({method, uri, body_hash.c_str()});
  } else {
    ha2 = md5_of_joined({method, uri});
  }
  if (qop[0] == '\0') return md5_of_joined({ha1, nonce, ha2.c_str()});
  return md5_of_joined({ha1, nonce, nc, cnonce, qop, ha2.c_str()});
}

int build_authorization(const DigestState& digest, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  // Nine digits, not RFC 2617's eight: the devices expect exactly this.
  char nc[16];
  std::snprintf(nc, sizeof nc, "%09x", static_cast<unsigned>(digest.nonce_count));
  const std::string ha1 = compute_ha1(digest.algorithm, digest.user, digest.realm, digest.password,
                                      digest.nonce, digest.cnonce);
  const std::string response = compute_request_digest(ha1.c_str(), digest.nonce, nc, digest.cnonce,
                                                      digest.qop, "GET", digest.uri, "");

  std::size_t length = 0;
  bool fits = true;
  auto append = [&](int written) {
    if (written < 0 || static_cast<std::size_t>(written) >= capacity - length) {
      fits = false;
      return;
    }
    length += static_cast<std::size_t>(written);
  };
  append(std::snprintf(out, capacity,
                       "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\","
                       "algorithm=\"%s\",response=\"%s\"",
                       digest.user, digest.realm, digest.nonce, digest.uri, digest.algorithm,
                       response.c_str()));
  if (fits && digest.opaque[0] != '\0')
    append(std::snprintf(out + length, capacity - length, ",opaque=\"%s\"", digest.opaque));
  if (fits && digest.qop[0] != '\0')
    append(std::snprintf(out + length, capacity - length, ",qop=%s,nc=%s,cnonce=\"%s\"", digest.qop,
                         nc, digest.cnonce));
  if (fits) append(std::snprintf(out + length, capacity - length, "\r\n"));
  if (!fits) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<int>(length);
}

}  // namespace vxt
