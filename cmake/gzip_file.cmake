# Compresses IN into OUT without a name or time stamp, so the same input gives the same bytes.
get_filename_component(directory "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${directory}")
execute_process(COMMAND gzip -9nc "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${IN}: ${result}")
endif()
