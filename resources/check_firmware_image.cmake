# Refuses a firmware image that the device transfer cannot carry: the wizard reads a 128-byte
# header, and TFTP block numbers are never wrapped, so at most 65535 blocks of 512 bytes
# (the last one short) fit.
#
# Used at configure time through include() and vxt_check_firmware_image(PATH), and at build
# time, so that an image replaced after configuring is still checked:
#   cmake -DVXT_CHECK_IMAGE=PATH -P check_firmware_image.cmake
# A refused image ends either with a FATAL_ERROR (non-zero exit status in script mode).

set(VXT_FIRMWARE_IMAGE_MIN_SIZE 128)
set(VXT_FIRMWARE_IMAGE_MAX_SIZE 33553919)  # 65535 * 512 - 1

function(vxt_check_firmware_image path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "Firmware image \"${path}\" is not a file.")
  endif()
  file(SIZE "${path}" size)
  if(size LESS VXT_FIRMWARE_IMAGE_MIN_SIZE)
    message(FATAL_ERROR
      "Firmware image \"${path}\" has ${size} bytes: too small, an image holds at least "
      "its ${VXT_FIRMWARE_IMAGE_MIN_SIZE}-byte header.")
  endif()
  if(size GREATER VXT_FIRMWARE_IMAGE_MAX_SIZE)
    message(FATAL_ERROR
      "Firmware image \"${path}\" has ${size} bytes: too large, TFTP can send at most "
      "65535 blocks of 512 bytes, that is ${VXT_FIRMWARE_IMAGE_MAX_SIZE} bytes.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED VXT_CHECK_IMAGE)
    message(FATAL_ERROR "usage: cmake -DVXT_CHECK_IMAGE=PATH -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  vxt_check_firmware_image("${VXT_CHECK_IMAGE}")
endif()
