# cmake -DPROGRAM=... -DARGUMENT=... -DOUTPUT=... [-DGZIP=ON] -P write_output.cmake
# Writes what the program prints for one argument into OUTPUT, and when GZIP
# is set also OUTPUT.gz (gzip -9n, as Debian wants); fails when the program
# does. The manual page is the English one, whatever the builder's locale.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C LANGUAGE= ${PROGRAM} ${ARGUMENT} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENT} failed: ${status}")
endif()
if(GZIP)
  execute_process(COMMAND gzip -9nkf ${OUTPUT} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${OUTPUT} failed: ${status}")
  endif()
endif()
