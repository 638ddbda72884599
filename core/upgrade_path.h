// The upgrade path after the address screen: reading the device's information page and the
// confirm screen (dialog 103), which the recovery path shows in the same way.
#pragma once

namespace vxt {

constexpr int confirm_dialog = 103;
constexpr int device_port = 80;
constexpr int local_port_base = 23456;
constexpr const char* information_page_path = "/admin/advanced";

// Reads "/admin/advanced" into http_buffer (device_info filled from it); the bytes received.
int request_device_information();

// Shows device_info; 1 = "Upgrade", 0 = "Cancel" (also Escape and the close box).
int run_confirm_screen();

}  // namespace vxt
