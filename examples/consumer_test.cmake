# Installs the build into a fresh prefix, then configures, builds and runs
# the consumer against it. Run with cmake -P and:
#   BUILD_DIR   the project's build directory (already built)
#   SOURCE_DIR  examples/consumer
#   WORK_DIR    scratch directory (emptied first)
#   CXX         the compiler of the build
#   SANITIZE    ON when the build is sanitized (the consumer must link the
#               sanitizer runtimes too)
#   VERSION     the project's version, which the package must report
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
# The libraries' insides, the test support and the application's Qt parts
# stay out of the installation.
foreach(internal serial/com_thread.h serial/event_mailbox.h serial/memory_device.h
                 driver/dropped_ports.h driver/reply_decoder.h testing app
                 diagnostics/debug_window.h)
  if(EXISTS "${prefix}/include/zuv/${internal}")
    message(FATAL_ERROR "installed, but internal: include/zuv/${internal}")
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
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  run(${PKG_CONFIG} --modversion zuv-fiscal)
  string(STRIP "${last_output}" pc_version)
  if(NOT pc_version STREQUAL VERSION)
    message(FATAL_ERROR "zuv-fiscal.pc says version ${pc_version}, the project ${VERSION}")
  endif()
  run(${PKG_CONFIG} --cflags zuv-fiscal)
  if(last_output MATCHES "-std=")
    message(FATAL_ERROR "zuv-fiscal.pc forces a standard: ${last_output}")
  endif()
endif()
# The consumer sets no standard: the package's targets must ask for C++20.
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
if(NOT last_output MATCHES "ZuvFiscal ${VERSION} found")
  message(FATAL_ERROR "the package does not report version ${VERSION}:\n${last_output}")
endif()
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
