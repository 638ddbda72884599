#include "sim/info_page.h"

namespace sim {

std::string format_mac(const DeviceIdentity& identity) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : identity.mac) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string information_page(const DeviceIdentity& identity, std::size_t min_size,
                             PageVariant variant, const std::string& omitted_label) {
  const auto row = [&](const std::string& label, const std::string& value) -> std::string {
    switch (variant) {
      case PageVariant::normal:
        break;
      case PageVariant::label_missing:
        if (label == omitted_label) return "";
        break;
      case PageVariant::line_break_between_tags:
        return "<tr><td>" + label + "</td>\r\n<td>" + value + "</td></tr>\r\n";
      case PageVariant::empty_cell_before_value:
        return "<tr><td>" + label + "</td><td></td><td>" + value + "</td></tr>\r\n";
      case PageVariant::no_labels:
        // The same values under other words, so nothing the wizard looks for is there.
        return "<tr><td>" + label.substr(0, label.size() - 1) + "</td><td>" + value +
               "</td></tr>\r\n";
    }
    return "<tr><td>" + label + "</td><td>" + value + "</td></tr>\r\n";
  };
  std::string page =
      "<html><head><title>Advanced</title></head><body>\r\n<h1>Device "
      "Information</h1>\r\n<table>\r\n" +
      row("Product Name:", identity.product_name) + row("MAC Address:", format_mac(identity)) +
      row("Software Version:", identity.software_version) +
      row("Hardware Version:", identity.hardware_version) +
      row("Serial Number:", identity.serial_number) + "</table>\r\n";
  const std::string end = "</body></html>\r\n";
  const std::size_t comment_frame = 9;  // "<!--" "-->\r\n"
  if (page.size() + end.size() < min_size) {
    const std::size_t filler = min_size - page.size() - end.size();
    page +=
        "<!--" + std::string(filler > comment_frame ? filler - comment_frame : 0, 'x') + "-->\r\n";
  }
  return page + end;
}

std::string upgrade_page(const std::string& server, const std::string& file_name) {
  return "<html><body><p>Upgrading: fetching " + file_name + " from " + server +
         ". Do not unplug the device.</p></body></html>\r\n";
}

std::string status_page(int status, const std::string& reason) {
  return "<html><body><h1>" + std::to_string(status) + " " + reason + "</h1></body></html>\r\n";
}

}  // namespace sim
