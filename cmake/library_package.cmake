# The installed library: liboxtrel.a and liboxtrel.so (with SONAME) made of the core's and the
# platform layer's objects, the public headers, a CMake package giving oxtrel::oxtrel (shared) and
# oxtrel::oxtrel_static, and a pkg-config file.
set(OXTREL_PUBLIC_INCLUDES
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(oxtrel_shared SHARED $<TARGET_OBJECTS:oxtrel_core> $<TARGET_OBJECTS:oxtrel_platform>)
set_target_properties(oxtrel_shared PROPERTIES OUTPUT_NAME oxtrel EXPORT_NAME oxtrel
                      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
target_include_directories(oxtrel_shared INTERFACE ${OXTREL_PUBLIC_INCLUDES})
target_link_libraries(oxtrel_shared PRIVATE ${LIBDEFLATE_LIBRARY} ZLIB::ZLIB)

# The public headers use C++20 (std::span among others), so every consumer compiles as C++20 at
# least: a usage requirement carried into the exported targets.
target_compile_features(oxtrel_shared INTERFACE cxx_std_20)

add_library(oxtrel_static STATIC $<TARGET_OBJECTS:oxtrel_core> $<TARGET_OBJECTS:oxtrel_platform>)
set_target_properties(oxtrel_static PROPERTIES OUTPUT_NAME oxtrel EXPORT_NAME oxtrel_static)
target_include_directories(oxtrel_static INTERFACE ${OXTREL_PUBLIC_INCLUDES})
target_link_libraries(oxtrel_static INTERFACE deflate z)
target_compile_features(oxtrel_static INTERFACE cxx_std_20)

install(TARGETS oxtrel_shared oxtrel_static EXPORT oxtrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/oxtrel/archive.h include/oxtrel/compression.h include/oxtrel/diff.h include/oxtrel/entry_reader.h
              include/oxtrel/export.h
              include/oxtrel/extract.h include/oxtrel/jobs.h include/oxtrel/oxtrel.h include/oxtrel/pack.h include/oxtrel/update.h
              include/oxtrel/result.h ${PROJECT_BINARY_DIR}/include/oxtrel/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/oxtrel)

include(CMakePackageConfigHelpers)
set(OXTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/oxtrel)
install(EXPORT oxtrelTargets NAMESPACE oxtrel:: DESTINATION ${OXTREL_CMAKE_DIR})
configure_package_config_file(cmake/oxtrelConfig.cmake.in ${PROJECT_BINARY_DIR}/oxtrelConfig.cmake
                              INSTALL_DESTINATION ${OXTREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/oxtrelConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/oxtrelConfig.cmake ${PROJECT_BINARY_DIR}/oxtrelConfigVersion.cmake
        DESTINATION ${OXTREL_CMAKE_DIR})

# Relative to the file's own place, so the package works wherever the prefix is moved.
file(RELATIVE_PATH OXTREL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/oxtrel.pc.in ${PROJECT_BINARY_DIR}/oxtrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/oxtrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
