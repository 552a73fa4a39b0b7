# Host tools: native programs that Wine tests run on the Linux side (the pty tool, the device
# simulator). The native build makes them; a Windows build finds them in TQ_HOST_TOOLS_DIR, the
# top of a native build tree. Include this file from any test group that needs them.
include_guard(GLOBAL)
if(WIN32)
  set(TQ_HOST_TOOLS_DIR "${CMAKE_SOURCE_DIR}/build/native" CACHE PATH
      "Native build tree whose host tools the Wine tests run")
  set(TQ_PTY "${TQ_HOST_TOOLS_DIR}/tests/rig/tq_pty")
else()
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/tests/rig)
endif()
