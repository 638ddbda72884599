# Runs check_firmware_image.cmake in script mode, as the build does, on sparse files around
# both size limits and on paths that are no image at all.
#   cmake -DCHECK_SCRIPT=... -DWORK_DIR=... -P check_firmware_image_test.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(failures "")

# run_check(path expect_accepted expected_message_regex)
function(run_check path expect_accepted expected_message)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DVXT_CHECK_IMAGE=${path}" -P "${CHECK_SCRIPT}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " err "${err}")  # cmake wraps long messages
  if(expect_accepted)
    if(NOT status EQUAL 0)
      set(failures "${failures}\n${path}: refused but should be accepted: ${err}" PARENT_SCOPE)
    endif()
  else()
    if(status EQUAL 0)
      set(failures "${failures}\n${path}: accepted but should be refused" PARENT_SCOPE)
    elseif(NOT err MATCHES "${expected_message}")
      set(failures "${failures}\n${path}: refused without \"${expected_message}\": ${err}"
          PARENT_SCOPE)
    endif()
  endif()
endfunction()

# size|accepted|message expected when refused
set(cases
  "0|0|has 0 bytes: too small"
  "127|0|has 127 bytes: too small"
  "128|1|"
  "761368|1|"
  "33553919|1|"
  "33553920|0|has 33553920 bytes: too large")

foreach(row IN LISTS cases)
  string(REGEX MATCH "^([0-9]+)\\|([01])\\|(.*)$" matched "${row}")
  set(size ${CMAKE_MATCH_1})
  set(accepted ${CMAKE_MATCH_2})
  set(message ${CMAKE_MATCH_3})
  set(image "${WORK_DIR}/image_${size}.bin")
  execute_process(COMMAND truncate -s ${size} "${image}" RESULT_VARIABLE status)
  file(SIZE "${image}" actual)
  if(NOT status EQUAL 0 OR NOT actual EQUAL size)
    message(FATAL_ERROR "could not make a ${size}-byte file with truncate")
  endif()
  run_check("${image}" ${accepted} "${message}")
endforeach()

run_check("${WORK_DIR}/no_such_image.bin" 0 "is not a file")
run_check("${WORK_DIR}" 0 "is not a file")

file(REMOVE_RECURSE "${WORK_DIR}")
if(failures)
  message(FATAL_ERROR "firmware size check:${failures}")
endif()
