// Program resources built into the executable.
#pragma once

#include <cstdint>

namespace vxt {

constexpr int firmware_resource_id = 112;
constexpr const char* firmware_resource_type = "VXT_FIRMWARE";

// The resource of that type and id: its bytes live as long as the process. False when none.
bool find_resource(const char* type, int id, const unsigned char** data, std::uint32_t* size);

}  // namespace vxt
