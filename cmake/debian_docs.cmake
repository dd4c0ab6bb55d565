# Run by CPack on the staged files of the Debian package: adds share/doc/oxtrel/copyright and a
# one-entry changelog.gz, dated SOURCE_DATE_EPOCH when set so that a release can be made again bit
# for bit.
set(doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_OXTREL_LICENSE}" "${doc}/copyright")
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
     "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -DIN=${doc}/changelog -DOUT=${doc}/changelog.gz
                        -P "${CPACK_OXTREL_GZIP_SCRIPT}" RESULT_VARIABLE result)
file(REMOVE "${doc}/changelog")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot compress ${doc}/changelog")
endif()
