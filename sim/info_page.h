// The pages the device's web server serves.
#pragma once

#include <cstddef>
#include <string>

#include "sim/device_config.h"

namespace sim {

// The MAC address as the information page shows it: 12 upper-case hexadecimal digits.
std::string format_mac(const DeviceIdentity& identity);

// The information page: each label ends its table cell and the value fills the next cell (or
// the variant's layout). The body is padded with a comment to at least min_size bytes.
std::string information_page(const DeviceIdentity& identity, std::size_t min_size,
                             PageVariant variant = PageVariant::normal,
                             const std::string& omitted_label = "");

// The short page that answers an upgrade command.
std::string upgrade_page(const std::string& server, const std::string& file_name);

// A small page for error statuses.
std::string status_page(int status, const std::string& reason);

}  // namespace sim
