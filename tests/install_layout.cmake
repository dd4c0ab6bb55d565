# Installs the build into a fresh prefix and checks that each installed file is where it belongs.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(expected bin/oxtrel bin/oxtrel-pack share/man/man1/oxtrel.1.gz share/man/man1/oxtrel-pack.1.gz
                 share/bash-completion/completions/oxtrel share/bash-completion/completions/oxtrel-pack)
  if(NOT EXISTS "${PREFIX}/${expected}")
    message(FATAL_ERROR "not installed: ${expected}")
  endif()
endforeach()
foreach(program bin/oxtrel bin/oxtrel-pack)
  execute_process(COMMAND "${PREFIX}/${program}" --version RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${program} --version exited ${result}")
  endif()
endforeach()
# Each completion script loads in bash and registers its command.
foreach(program oxtrel oxtrel-pack)
  execute_process(COMMAND bash -c "source '${PREFIX}/share/bash-completion/completions/${program}' && complete -p ${program}"
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the completion script of ${program} does not register it")
  endif()
endforeach()
# The Python module, imported from the prefix by an interpreter that sees nothing else (see
# installed_python_module.py).
if(PYTHON)
  execute_process(COMMAND "${PYTHON}" -I -S -B "${SOURCE_DIR}/tests/installed_python_module.py" "${CONFIGURED_PREFIX}"
                          "${PREFIX}" "${PYTHON_PACKAGES_DIR}" "${PYTHON_DIR_CHOSEN}" "${SOURCE_DIR}/examples/sample.vrk"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed Python module failed:\n${out}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
