// The firmware image embedded in the program (firmware_image.S). Its bytes live as long as the
// process; reach it through find_resource rather than these symbols.
#pragma once

#include <cstdint>

extern "C" {
extern const unsigned char vxt_firmware_image_data[];
extern const std::uint32_t vxt_firmware_image_size;
}
