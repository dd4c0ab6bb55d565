# The Debian package, made by `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr:
# what `cmake --install` puts in place (programs, manual pages, completions, library, headers,
# CMake package, pkg-config file) plus the copyright and changelog Debian asks for. Its
# dependencies come from dpkg-shlibdeps; libdeflate-dev and zlib1g-dev are only needed to link the
# static library.
set(OXTREL_PACKAGE_CONTACT "oxtrel maintainers <maintainers@users.noreply.c-seed-3359e988.example>"
    CACHE STRING "Maintainer of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oxtrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${OXTREL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extracts and packs hashed asset archives (.vrk)")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "oxtrel extracts every file of a hashed asset archive into a data directory,"
    "checking every byte and refusing to write outside it; oxtrel-pack builds such"
    "archives from a directory tree. The package also holds the C++ library both"
    "programs are built on, its headers, a CMake package and a pkg-config file.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libdeflate-dev, zlib1g-dev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian_docs.cmake)
# The loader's cache is refreshed by dpkg's trigger, as Debian asks of packages with a library.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_OXTREL_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_OXTREL_GZIP_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake)
include(CPack)
