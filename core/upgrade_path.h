// The upgrade path after the address screen: reading the device's information page and the
// confirm screen (dialog 103), which the recovery path shows in the same way.
#pragma once

#include <cstdint>

namespace vxt {

constexpr int confirm_dialog = 103;
constexpr int device_port = 80;
constexpr int local_port_base = 23456;
constexpr const char* information_page_path = "/admin/advanced";

// Reads "/admin/advanced" into http_buffer (device_info filled from it); the bytes received.
int request_device_information();

// Shows device_info; 1 = "Upgrade", 0 = "Cancel" (also Escape and the close box).
int run_confirm_screen();

// "/admin/upgrade?tftp://a.b.c.d:port/name" with the PC's own address, the listener's port and
// the file name (its slash included) into path (capacity bytes); the characters written.
int format_upgrade_command(char* path, int capacity, std::uint32_t local_address,
                           std::uint16_t port, const char* file_name);

// After the confirm screen: starts the TFTP listener, sends the upgrade command and idles for
// good; the listener thread ends the process.
[[noreturn]] void start_upgrade_transfer();

}  // namespace vxt
