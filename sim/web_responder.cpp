#include "sim/web_responder.h"

#include "sim/http_request.h"
#include "sim/info_page.h"
#include "sim/strict_request.h"
#include "sim/udp_socket.h"

namespace sim {

std::optional<UpgradeCommand> parse_upgrade_target(const std::string& target) {
  const std::string prefix = "/admin/upgrade?tftp://";
  if (target.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::size_t colon = target.find(':', prefix.size());
  if (colon == std::string::npos) return std::nullopt;
  const auto address = parse_ipv4(target.substr(prefix.size(), colon - prefix.size()));
  const std::size_t slash = target.find('/', colon + 1);
  if (!address || slash == std::string::npos || slash == colon + 1 || slash - colon - 1 > 5)
    return std::nullopt;
  unsigned long port = 0;
  for (std::size_t at = colon + 1; at < slash; ++at) {
    if (target[at] < '0' || target[at] > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned long>(target[at] - '0');
  }
  const std::string name = target.substr(slash);
  if (port == 0 || port > 65535 || name.size() < 2 || name.size() > 255) return std::nullopt;
  return UpgradeCommand{*address, static_cast<std::uint16_t>(port), name};
}

WebResponder::WebResponder(const DeviceConfig& config, DigestAuthenticator::Clock clock)
    : config_(config), authenticator_(config.auth, std::move(clock)) {}

WebReply WebResponder::response(int status, const std::string& reason, const std::string& body,
                                const std::string& extra_headers) const {
  WebReply reply;
  reply.status = status;
  reply.bytes = std::string(config_.web_faults.http10_status_line ? "HTTP/1.0 " : "HTTP/1.1 ") +
                std::to_string(status) + " " + reason + "\r\n" + extra_headers +
                "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;
  reply.summary = std::to_string(status) + " " + reason;
  return reply;
}

WebReply WebResponder::respond(const std::string& head, bool too_long,
                               const DeviceIdentity& identity, bool busy) {
  if (too_long) {
    WebReply reply = response(400, "Bad Request", status_page(400, "Bad Request"));
    reply.summary += " (request head too long)";
    return reply;
  }
  const auto refuse = [this](const std::string& rule) {
    WebReply reply = response(400, "Bad Request", status_page(400, "Bad Request"));
    reply.summary += " (refused: " + rule + ")";
    reply.rule = rule;
    return reply;
  };
  if (!config_.lenient.http_head) {
    if (const auto rule = strict_head_violation(head)) return refuse(*rule);
  }
  const auto request = parse_http_request(head);
  if (!request) {
    WebReply reply = response(400, "Bad Request", status_page(400, "Bad Request"));
    reply.summary += " (malformed request)";
    return reply;
  }
  const WebFaults& faults = config_.web_faults;
  if (faults.close_without_response) {
    WebReply reply;
    reply.action = WebReply::Action::close_silently;
    reply.summary = "closed without a response (fault)";
    return reply;
  }
  if (faults.no_answer) {
    WebReply reply;
    reply.action = WebReply::Action::hold;
    reply.summary = "no answer (fault)";
    return reply;
  }
  if (faults.unauthorized_without_challenge) {
    WebReply reply = response(401, "Unauthorized", status_page(401, "Unauthorized"));
    reply.summary += " without a challenge (fault)";
    return reply;
  }

  if (!config_.auth.password.empty()) {
    if (!config_.lenient.authorization) {
      // The head has passed the strict check, so the line is exactly "Authorization: ..." CR LF.
      const std::string name = "\r\nAuthorization: ";
      const std::size_t at = head.find(name);
      if (at != std::string::npos) {
        const std::size_t begin = at + name.size();
        const std::string value = head.substr(begin, head.find("\r\n", begin) - begin);
        if (const auto rule = strict_authorization_violation(value, config_.auth))
          return refuse(*rule);
      }
    }
    const DigestVerdict verdict =
        authenticator_.verify(request->header("Authorization"), request->method, request->target);
    if (verdict != DigestVerdict::accepted) {
      const bool stale = verdict == DigestVerdict::stale_nonce;
      const std::string challenge = authenticator_.challenge(stale);
      WebReply reply = response(401, "Unauthorized", status_page(401, "Unauthorized"),
                                "WWW-Authenticate: " + challenge + "\r\n");
      reply.summary += verdict == DigestVerdict::missing ? " (no credentials)"
                       : stale ? " (stale nonce, new nonce " + authenticator_.current_nonce() + ")"
                               : " (wrong credentials)";
      return reply;
    }
  }

  if (request->method == "GET" && request->target == "/admin/advanced") {
    return response(
        200, "OK",
        information_page(identity, faults.page_size, faults.page_variant, faults.omitted_label));
  }
  if (request->method == "GET" && request->target.compare(0, 15, "/admin/upgrade?") == 0) {
    const auto command = parse_upgrade_target(request->target);
    if (!command) {
      WebReply reply = response(400, "Bad Request", status_page(400, "Bad Request"));
      reply.summary += " (malformed upgrade command)";
      return reply;
    }
    if (busy) {
      WebReply reply = response(503, "Service Unavailable", status_page(503, "Busy"));
      reply.summary += " (an upgrade is already under way)";
      return reply;
    }
    const std::string server = format_endpoint(command->server_address, command->server_port);
    WebReply reply = response(200, "OK", upgrade_page(server, command->file_name));
    reply.summary += " (upgrade from tftp://" + server + command->file_name + ")";
    reply.upgrade = command;
    return reply;
  }
  return response(404, "Not Found", status_page(404, "Not Found"));
}

}  // namespace sim
