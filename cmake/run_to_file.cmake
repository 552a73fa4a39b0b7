# Runs GUIDE with ARGS and writes its standard output to OUT; fails with the program.
#   cmake -DGUIDE=PROGRAM -DARGS=a;b;c -DOUT=FILE -P run_to_file.cmake
execute_process(COMMAND ${GUIDE} ${ARGS} OUTPUT_FILE ${OUT}.part RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "${GUIDE} ${ARGS} failed: ${rc}")
endif()
file(RENAME ${OUT}.part ${OUT})
