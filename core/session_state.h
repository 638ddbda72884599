// The one process-wide record of the wizard.
//
// No locks: each field is written before the threads that read it start, or while they are
// not running; a thread's end or a synchronously delivered command orders the hand-over.
#pragma once

#include <cstdint>

#include "core/firmware_image.h"
#include "web/digest_state.h"

namespace vxt {

struct DeviceInfo {
  char product_name[128];
  char mac_address[128];
  char software_version[128];
  char hardware_version[128];
  char serial_number[128];
};

constexpr int max_local_addresses = 8;
constexpr int http_capacity = 131071;
constexpr int recovery_reply_size = 100;

struct SessionState {
  std::int32_t mode;         // 1 = upgrade, 0 = recovery
  std::int32_t device_kind;  // 1 = IP phone, 0 = telephone adapter
  char model_name[14];
  FirmwareImage image;
  std::uint32_t local_addresses[max_local_addresses];  // a 0 ends the list
  std::uint32_t local_address;
  std::uint32_t device_address;
  char device_label[32];
  char recovery_serial[20];
  char tftp_file_name[128];
  DeviceInfo device_info;
  DigestState digest;
  char http_buffer[http_capacity + 1];
  unsigned char recovery_reply[recovery_reply_size];
};

// Zero before start-up.
extern SessionState session;

}  // namespace vxt
