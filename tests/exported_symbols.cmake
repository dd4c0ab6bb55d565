# The shared library exports the public interface and nothing of its own besides: every name in
# namespace oxtrel that an exported symbol mentions (function, class, parameter type) is declared
# in a public header, and every function the headers mark OXTREL_API is exported.
# Arguments: LIBRARY, NM, HEADERS (the public header directory).
execute_process(COMMAND "${NM}" -D --defined-only -C "${LIBRARY}" RESULT_VARIABLE result OUTPUT_VARIABLE symbols)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${result}")
endif()

file(GLOB header_files "${HEADERS}/*.h")
list(FILTER header_files EXCLUDE REGEX "/export\\.h$")  # defines the mark; declares nothing
set(headers "")
foreach(file ${header_files})
  file(READ "${file}" text)
  string(APPEND headers "${text}")
endforeach()

string(REGEX MATCHALL "oxtrel::[A-Za-z_][A-Za-z0-9_]*" mentioned "${symbols}")
list(REMOVE_DUPLICATES mentioned)
foreach(name ${mentioned})
  string(REPLACE "oxtrel::" "" name "${name}")
  if(NOT headers MATCHES "[^A-Za-z0-9_]${name}[^A-Za-z0-9_]")
    message(FATAL_ERROR "exported but not public: oxtrel::${name}\n${symbols}")
  endif()
endforeach()

string(REGEX MATCHALL "OXTREL_API[^;({]*[ :*&]([A-Za-z_][A-Za-z0-9_]*)\\(" marked "${headers}")
if(marked STREQUAL "")
  message(FATAL_ERROR "no declaration in ${HEADERS} is marked OXTREL_API")
endif()
foreach(declaration ${marked})
  string(REGEX REPLACE ".*[ :*&]([A-Za-z_][A-Za-z0-9_]*)\\($" "\\1" name "${declaration}")
  if(NOT symbols MATCHES "oxtrel::${name}[[(]")
    message(FATAL_ERROR "public but not exported: oxtrel::${name}\n${symbols}")
  endif()
endforeach()
