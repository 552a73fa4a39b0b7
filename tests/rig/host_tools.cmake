# Host tools: native programs that Wine tests run on the Linux side (the pty tool, the device
# simulator). The native build makes them; a Windows build finds them in TQ_HOST_TOOLS_DIR, the
# top of a native build tree. Include this file from every test group that needs them: it sets
# the variables in the including directory each time and builds the rig's tools once.
if(WIN32)
  set(TQ_HOST_TOOLS_DIR "${CMAKE_SOURCE_DIR}/build/native" CACHE PATH
      "Native build tree whose host tools the Wine tests run")
  set(TQ_PTY "${TQ_HOST_TOOLS_DIR}/tests/rig/tq_pty")
elseif(NOT TARGET tq_pty)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/tests/rig)
endif()
