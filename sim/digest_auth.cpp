#include "sim/digest_auth.h"

#include <cctype>
#include <chrono>
#include <random>

#include "web/md5.h"

namespace sim {
namespace {

constexpr std::size_t kMaxClientsPerNonce = 256;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool is_name_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_value_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7f && c != ',' && c != '"';
}

std::optional<std::uint64_t> parse_nonce_count(const std::string& text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(
                             std::isdigit(static_cast<unsigned char>(c))
                                 ? c - '0'
                                 : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  return value;
}

std::string random_nonce() {
  static std::mt19937_64 generator{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdef";
  std::string nonce;
  for (int i = 0; i < 32; ++i) nonce += kDigits[generator() & 0x0f];
  return nonce;
}

std::uint64_t steady_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace

std::string offered_qop(DigestQop qop) {
  switch (qop) {
    case DigestQop::none:
      return "";
    case DigestQop::auth:
      return "auth";
    case DigestQop::auth_int:
      return "auth-int";
    case DigestQop::auth_list:
      return "auth,auth-int";
  }
  return "";
}

std::string algorithm_name(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::none:
      return "";
    case DigestAlgorithm::md5:
      return "MD5";
    case DigestAlgorithm::md5_sess:
      return "MD5-sess";
  }
  return "";
}

std::string challenge_algorithm(const AuthConfig& config) {
  return config.quote_algorithm ? algorithm_name(config.algorithm) : "";
}

std::optional<std::map<std::string, std::string>> parse_digest_authorization(
    const std::string& value) {
  std::size_t at = 0;
  while (at < value.size() && is_blank(value[at])) ++at;
  if (lower(value.substr(at, 6)) != "digest" || at + 6 >= value.size() ||
      !is_blank(value[at + 6])) {
    return std::nullopt;
  }
  at += 6;

  std::map<std::string, std::string> params;
  std::string last_unquoted_name;  // the parameter that bare tokens extend, if any
  while (true) {
    while (at < value.size() && (is_blank(value[at]) || value[at] == ',')) ++at;
    if (at >= value.size()) break;
    std::size_t name_end = at;
    while (name_end < value.size() && is_name_char(value[name_end])) ++name_end;
    if (name_end == at) return std::nullopt;
    const std::string name = lower(value.substr(at, name_end - at));
    std::size_t next = name_end;
    while (next < value.size() && is_blank(value[next])) ++next;
    if (next >= value.size() || value[next] != '=') {
      // A bare token: the next entry of a list written without quotes.
      if (last_unquoted_name.empty() || (next < value.size() && value[next] != ','))
        return std::nullopt;
      params[last_unquoted_name] += "," + value.substr(at, name_end - at);
      at = next;
      continue;
    }
    if (params.count(name) != 0) return std::nullopt;
    ++next;
    while (next < value.size() && is_blank(value[next])) ++next;
    std::string parsed;
    if (next < value.size() && value[next] == '"') {
      ++next;
      bool closed = false;
      while (next < value.size()) {
        const char c = value[next++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (next >= value.size()) return std::nullopt;
          parsed += value[next++];
        } else {
          parsed += c;
        }
      }
      if (!closed) return std::nullopt;
      last_unquoted_name.clear();
    } else {
      while (next < value.size() && is_value_char(value[next])) parsed += value[next++];
      if (parsed.empty()) return std::nullopt;
      last_unquoted_name = name;
    }
    while (next < value.size() && is_blank(value[next])) ++next;
    if (next < value.size() && value[next] != ',') return std::nullopt;
    params[name] = parsed;
    at = next;
  }
  return params;
}

DigestAuthenticator::DigestAuthenticator(AuthConfig config, Clock clock, NonceSource nonces)
    : config_(std::move(config)),
      clock_(clock ? std::move(clock) : Clock(steady_ms)),
      nonces_(nonces ? std::move(nonces) : NonceSource(random_nonce)) {}

bool DigestAuthenticator::nonce_expired() const {
  if (nonce_.empty()) return true;
  if (config_.nonce_max_uses != 0 && nonce_uses_ >= config_.nonce_max_uses) return true;
  return config_.nonce_lifetime_ms != 0 && clock_() - nonce_issued_ms_ >= config_.nonce_lifetime_ms;
}

void DigestAuthenticator::renew_nonce() {
  std::string fresh = nonces_();
  if (fresh == nonce_) fresh += "1";  // a refusal for staleness must always bring a new nonce
  nonce_ = fresh;
  nonce_issued_ms_ = clock_();
  nonce_uses_ = 0;
  last_count_by_cnonce_.clear();
}

std::string DigestAuthenticator::challenge(bool stale) {
  if (nonce_expired()) renew_nonce();
  std::string text = "Digest realm=\"" + config_.realm + "\", nonce=\"" + nonce_ + "\"";
  const std::string qop = offered_qop(config_.qop);
  if (!qop.empty()) text += ", qop=\"" + qop + "\"";
  const std::string algorithm = algorithm_name(config_.algorithm);
  if (!algorithm.empty()) {
    text +=
        config_.quote_algorithm ? ", algorithm=\"" + algorithm + "\"" : ", algorithm=" + algorithm;
  }
  if (!config_.opaque.empty()) text += ", opaque=\"" + config_.opaque + "\"";
  if (stale) text += ", stale=TRUE";
  return text;
}

DigestVerdict DigestAuthenticator::verify(const std::string* authorization,
                                          const std::string& method, const std::string& uri) {
  if (authorization == nullptr) return DigestVerdict::missing;
  const auto parsed = parse_digest_authorization(*authorization);
  if (!parsed) return DigestVerdict::wrong_credentials;
  const auto& params = *parsed;
  const auto param = [&params](const char* name) -> const std::string* {
    const auto found = params.find(name);
    return found == params.end() ? nullptr : &found->second;
  };

  const std::string* nonce = param("nonce");
  if (nonce == nullptr) return DigestVerdict::wrong_credentials;
  if (*nonce != nonce_ || nonce_expired()) return DigestVerdict::stale_nonce;

  const std::string* user = param("username");
  const std::string* realm = param("realm");
  const std::string* digest_uri = param("uri");
  const std::string* response = param("response");
  if (user == nullptr || realm == nullptr || digest_uri == nullptr || response == nullptr) {
    return DigestVerdict::wrong_credentials;
  }
  if (*user != config_.user || *realm != config_.realm || *digest_uri != uri) {
    return DigestVerdict::wrong_credentials;
  }
  if (!config_.opaque.empty()) {
    const std::string* opaque = param("opaque");
    if (opaque == nullptr || *opaque != config_.opaque) return DigestVerdict::wrong_credentials;
  }

  // The client names the algorithm it used; an empty or missing name means plain MD5.
  const std::string* algorithm = param("algorithm");
  const std::string used = algorithm == nullptr ? "" : lower(*algorithm);
  const bool session = config_.algorithm == DigestAlgorithm::md5_sess;
  if (session ? used != "md5-sess" : !(used.empty() || used == "md5"))
    return DigestVerdict::wrong_credentials;

  const std::string a1 = config_.user + ":" + config_.realm + ":" + config_.password;
  std::string ha1 = vxt::md5_hex(a1);
  const std::string* cnonce = param("cnonce");
  if (session) {
    // The session form hashes the raw 16-byte digest of A1, not its hex text.
    if (cnonce == nullptr) return DigestVerdict::wrong_credentials;
    const vxt::Md5Digest raw = vxt::md5(a1.data(), a1.size());
    const std::string tail = ":" + *nonce + ":" + *cnonce;
    vxt::Md5Context context;
    vxt::md5_init(context);
    vxt::md5_update(context, raw.data(), raw.size());
    vxt::md5_update(context, tail.data(), tail.size());
    ha1 = vxt::to_hex(vxt::md5_final(context));
  }

  const std::string offered = offered_qop(config_.qop);
  const std::string* qop = param("qop");
  std::string expected;
  std::uint64_t count = 0;
  if (offered.empty()) {
    if (qop != nullptr) return DigestVerdict::wrong_credentials;
    expected = vxt::md5_hex(ha1 + ":" + *nonce + ":" + vxt::md5_hex(method + ":" + uri));
  } else {
    if (qop == nullptr) return DigestVerdict::wrong_credentials;
    // One offered value, or the whole offered list as it stood in the challenge.
    bool offered_value = lower(*qop) == lower(offered);
    std::size_t start = 0;
    while (!offered_value && start <= offered.size()) {
      const std::size_t comma = offered.find(',', start);
      const std::size_t end = comma == std::string::npos ? offered.size() : comma;
      offered_value = lower(*qop) == offered.substr(start, end - start);
      start = end + 1;
    }
    const std::string* nc = param("nc");
    if (!offered_value || nc == nullptr || cnonce == nullptr || cnonce->empty()) {
      return DigestVerdict::wrong_credentials;
    }
    const auto parsed_count = parse_nonce_count(*nc);
    const auto seen = last_count_by_cnonce_.find(*cnonce);
    if (!parsed_count || *parsed_count == 0 ||
        (seen != last_count_by_cnonce_.end() && *parsed_count <= seen->second)) {
      return DigestVerdict::wrong_credentials;
    }
    // A nonce shared by too many clients is retired rather than tracked without bound.
    if (seen == last_count_by_cnonce_.end() &&
        last_count_by_cnonce_.size() >= kMaxClientsPerNonce) {
      return DigestVerdict::stale_nonce;
    }
    count = *parsed_count;
    std::string a2 = method + ":" + uri;
    if (lower(*qop) == "auth-int") a2 += ":" + vxt::md5_hex("");  // requests carry no body
    expected = vxt::md5_hex(ha1 + ":" + *nonce + ":" + *nc + ":" + *cnonce + ":" + *qop + ":" +
                            vxt::md5_hex(a2));
  }
  if (lower(*response) != expected) return DigestVerdict::wrong_credentials;

  ++nonce_uses_;
  if (count != 0) last_count_by_cnonce_[*cnonce] = count;
  return DigestVerdict::accepted;
}

}  // namespace sim
