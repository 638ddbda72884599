// The device's side of HTTP Digest authentication (RFC 2617): the challenge it sends, and the
// check of the Authorization header that comes back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "sim/device_config.h"

namespace sim {

// The qop text a challenge offers ("" for none, "auth,auth-int" for the list) and the name of an
// algorithm as the challenge writes it ("" for none).
std::string offered_qop(DigestQop qop);
std::string algorithm_name(DigestAlgorithm algorithm);
// The algorithm value the challenge carries in quotes: "" when it sends none or sends it unquoted.
std::string challenge_algorithm(const AuthConfig& config);

// The parameters of a "Digest ..." Authorization value, names in lower case. Values come
// unquoted and unescaped. An unquoted value followed by bare tokens (qop=auth,auth-int, as some
// clients write the whole offered list) keeps those tokens, joined by commas.
std::optional<std::map<std::string, std::string>> parse_digest_authorization(
    const std::string& value);

enum class DigestVerdict {
  accepted,
  missing,            // no Authorization header
  stale_nonce,        // a nonce we never issued, or one that has expired
  wrong_credentials,  // anything else that does not check out, a malformed header included
};

class DigestAuthenticator {
 public:
  using Clock = std::function<std::uint64_t()>;  // milliseconds, monotonic
  using NonceSource = std::function<std::string()>;

  explicit DigestAuthenticator(AuthConfig config, Clock clock = {}, NonceSource nonces = {});

  // The WWW-Authenticate value for a refusal: the current nonce while it is valid, else a new one.
  std::string challenge(bool stale);

  // Checks an Authorization header value (nullptr when the request had none). An accepted request
  // uses up one use of the nonce.
  DigestVerdict verify(const std::string* authorization, const std::string& method,
                       const std::string& uri);

  const std::string& current_nonce() const { return nonce_; }

 private:
  bool nonce_expired() const;
  void renew_nonce();

  AuthConfig config_;
  Clock clock_;
  NonceSource nonces_;
  std::string nonce_;
  std::uint64_t nonce_issued_ms_ = 0;
  std::uint32_t nonce_uses_ = 0;
  // Every client that shares the nonce counts its own requests, so replays are told apart by
  // the client nonce: its count must grow.
  std::map<std::string, std::uint64_t> last_count_by_cnonce_;
};

}  // namespace sim
