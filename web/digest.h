// HTTP Digest authentication (RFC 2617) over DigestState: reading the device's challenge and
// writing the Authorization line of a request.
#pragma once

#include <cstddef>
#include <string>

#include "web/digest_state.h"

namespace vxt {

// Takes realm, nonce, algorithm, qop and opaque out of the text that starts at the response's
// first "WWW-Authenticate:" (read up to its first zero byte). Only quoted values count; a value
// longer than its field is cut to the field. A new nonce restarts the nonce count; every
// successful parse draws a new client nonce. False (realm kept, if one was found) when the
// realm or the nonce is missing.
bool parse_challenge(const char* challenge, DigestState& digest);

// H(A1) as 32 lowercase hexadecimal digits; algorithm "md5-sess" in any letter case selects the
// session form, which hashes the raw 16-byte digest again with nonce and client nonce.
std::string compute_ha1(const char* algorithm, const char* user, const char* realm,
                        const char* password, const char* nonce, const char* cnonce);

// The request digest as 32 lowercase hexadecimal digits. nc is the nonce count already written
// out; with an empty qop neither nc nor cnonce take part. qop "auth-int" hashes the body too.
std::string compute_request_digest(const char* ha1, const char* nonce, const char* nc,
                                   const char* cnonce, const char* qop, const char* method,
                                   const char* uri, const char* body);

// Writes the whole "Authorization: Digest ..." line with its CR LF for a GET of digest.uri,
// zero-terminated, into out (capacity bytes, terminator included). Returns the characters
// written, terminator not counted; 0 (and an empty text) when the line does not fit.
int build_authorization(const DigestState& digest, char* out, std::size_t capacity);

}  // namespace vxt
