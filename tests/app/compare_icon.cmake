# Regenerates the icon and compares it with the committed one.
execute_process(COMMAND ${GENERATOR} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "icon generator failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${ICON} ${OUT} RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "${ICON} differs from what tools/icon/make_icon.cpp draws")
endif()
