// Program resources. The only one is the firmware image, linked into the program by resources/.
#include "platform/resource.h"

#include <cstring>

#include "resources/firmware_image.h"

namespace vxt {

bool find_resource(const char* type, int id, const unsigned char** data, std::uint32_t* size) {
  const bool found = type != nullptr && std::strcmp(type, firmware_resource_type) == 0 &&
                     id == firmware_resource_id;
  if (data != nullptr) *data = found ? vxt_firmware_image_data : nullptr;
  if (size != nullptr) *size = found ? vxt_firmware_image_size : 0;
  return found;
}

}  // namespace vxt
