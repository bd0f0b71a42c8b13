# Installs the build into a fresh prefix, then configures, builds and runs
# the consumer against it. Run with cmake -P and:
#   BUILD_DIR   the project's build directory (already built)
#   SOURCE_DIR  examples/consumer
#   WORK_DIR    scratch directory (emptied first)
#   CXX         the compiler of the build
#   SANITIZE    ON when the build is sanitized (the consumer must link the
#               sanitizer runtimes too)
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(installed bin/zuv bin/zuv_emulator include/zuv/driver/comportzuv.h
                  include/zuv/serial/tcp_device.h)
  if(NOT EXISTS "${prefix}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
set(ENV{PKG_CONFIG_PATH} "")
file(GLOB pc_dirs "${prefix}/lib*/pkgconfig" "${prefix}/lib/*/pkgconfig")
foreach(dir ${pc_dirs})
  set(ENV{PKG_CONFIG_PATH} "${dir}")
endforeach()
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/zuv_consumer")
if(NOT last_output MATCHES "speeds: 9600 19200 38400 57600 115200")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()
if(EXISTS "${WORK_DIR}/build/zuv_consumer_pc")
  run("${WORK_DIR}/build/zuv_consumer_pc")
endif()
run("${prefix}/bin/zuv" --help)
file(REMOVE_RECURSE "${WORK_DIR}")
