// The recovery entry screen (dialog 142): the device's serial number and the PC address.
#pragma once

namespace vxt {

constexpr int recovery_entry_dialog = 142;

// 1 = Continue (tftp_file_name drawn; recovery_serial, device_label and local_address set),
// 0 = Cancel.
int run_recovery_entry_screen();

}  // namespace vxt
