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
file(REMOVE_RECURSE "${PREFIX}")
