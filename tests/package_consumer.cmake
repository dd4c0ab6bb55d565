# Installs the build into a fresh prefix, then builds the README's C++ example against it through
# the CMake package (shared and static) and through pkg-config, and runs each on the sample. The
# consumer never asks for a language standard: the package and the .pc file bring C++20, which
# the headers need and the compiler's default is not.
# Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

file(READ "${SOURCE_DIR}/README.md" readme)
string(FIND "${readme}" "## Use it from C++" at)
string(SUBSTRING "${readme}" ${at} -1 readme)
string(FIND "${readme}" "```cpp\n" at)
math(EXPR at "${at} + 7")
string(SUBSTRING "${readme}" ${at} -1 readme)
string(FIND "${readme}" "```" end)
string(SUBSTRING "${readme}" 0 ${end} example)
if(NOT example MATCHES "openArchive")
  message(FATAL_ERROR "no C++ example found in README.md")
endif()
file(WRITE "${WORK_DIR}/example.cpp" "${example}")

set(sample "${SOURCE_DIR}/examples/sample.vrk")
set(expected "config/settings.ini holds 68 bytes")
function(check_run program)
  run(${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${prefix}/lib:$ENV{LD_LIBRARY_PATH}"
      "${program}" "${sample}" "CONFIG\\Settings.INI")
  if(NOT out MATCHES "meshes/terrain/lod/hill01.lod1.nif" OR NOT out MATCHES "${expected}")
    message(FATAL_ERROR "${program} printed:\n${out}")
  endif()
endfunction()

# The CMake package, both libraries.
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/package_consumer" -B "${WORK_DIR}/cmake-build"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DEXAMPLE_SOURCE=${WORK_DIR}/example.cpp")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/cmake-build")
check_run("${WORK_DIR}/cmake-build/consumer_shared")
check_run("${WORK_DIR}/cmake-build/consumer_static")

# pkg-config, with the compiler called directly.
file(GLOB pc_file "${prefix}/lib*/pkgconfig/oxtrel.pc" "${prefix}/lib/*/pkgconfig/oxtrel.pc")
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
run(${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${pc_dir}" pkg-config --cflags --libs oxtrel)
string(STRIP "${out}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ "${WORK_DIR}/example.cpp" ${flags} -o "${WORK_DIR}/consumer_pkgconfig")
check_run("${WORK_DIR}/consumer_pkgconfig")
file(REMOVE_RECURSE "${WORK_DIR}")
