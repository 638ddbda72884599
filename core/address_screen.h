// The address screen (dialog 101 for adapters, 168 for the phone): the device's IPv4 address
// and the PC address to use.
#pragma once

namespace vxt {

constexpr int address_dialog_adapter = 101;
constexpr int address_dialog_phone = 168;

// 1 = a valid address was accepted (device_label, device_address, tftp_file_name and
// local_address set), 0 = Cancel.
int run_address_screen();

}  // namespace vxt
