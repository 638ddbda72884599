// What a VXT device's web server understands: the request head exactly as the wizard writes it,
// and the Authorization line exactly in the wizard's Digest form. Each check names the rule a
// request breaks, so the refusal can say why.
#pragma once

#include <optional>
#include <string>

#include "sim/device_config.h"

namespace sim {

// The head, from the request line to its empty line, must be exactly
//   "GET <path> HTTP/1.1" CR LF
//   "Host: <dotted private IPv4 address>" CR LF
//   at most one "Authorization: ..." CR LF
//   CR LF
// with no other line. Nothing when it is; otherwise the rule broken.
std::optional<std::string> strict_head_violation(const std::string& head);

// value: what follows "Authorization: " on its line. The wizard's form, without blanks:
//   Digest username="U",realm="R",nonce="N",uri="P",algorithm="A",response="H"
// then ,opaque="O" when the challenge had an opaque, then ,qop=Q,nc=NNNNNNNNN,cnonce="C" when
// it offered qop. A is the algorithm the challenge sent in quotes ("" otherwise), H 32 lower-case
// hexadecimal digits, Q exactly the qop text offered (a list stays whole), nc nine lower-case
// hexadecimal digits. Nothing when the value has that form; otherwise the rule broken.
std::optional<std::string> strict_authorization_violation(const std::string& value,
                                                          const AuthConfig& auth);

}  // namespace sim
