# Install rules and packages: the program (and on Windows the window), the C
# library with its header, pkg-config file and CMake package
# (find_package(dls2mml) -> dls2mml::dls2mml), the manual page and the
# documents; CPack makes the Debian package and the Windows zip from them
# (tools/package.sh). Included by the top-level CMakeLists.txt.
include(CMakePackageConfigHelpers)

# The Windows zip is flat: both programs beside README and LICENSE.
if(WIN32)
  set(DLS2MML_BIN_DESTINATION .)
  set(DLS2MML_DOC_DESTINATION .)
else()
  set(DLS2MML_BIN_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(DLS2MML_DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS dls2mml RUNTIME DESTINATION ${DLS2MML_BIN_DESTINATION} COMPONENT programs)
if(TARGET dls2mml-gui)
  install(TARGETS dls2mml-gui RUNTIME DESTINATION ${DLS2MML_BIN_DESTINATION} COMPONENT programs)
endif()
install(TARGETS dls2mml_library EXPORT dls2mmlTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT programs NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${DLS2MML_BIN_DESTINATION} COMPONENT programs
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/dls2mml/dls2mml.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dls2mml COMPONENT development)

set(DLS2MML_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dls2mml)
install(EXPORT dls2mmlTargets NAMESPACE dls2mml:: DESTINATION ${DLS2MML_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/dls2mmlConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dls2mmlConfig.cmake INSTALL_DESTINATION ${DLS2MML_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dls2mmlConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dls2mmlConfig.cmake ${PROJECT_BINARY_DIR}/dls2mmlConfigVersion.cmake
  DESTINATION ${DLS2MML_CMAKE_DIR} COMPONENT development)

# pkg-config: a static archive brings the C++ runtime and threads with it.
if(BUILD_SHARED_LIBS)
  set(DLS2MML_PC_LIBS "-ldls2mml")
  set(DLS2MML_PC_LIBS_PRIVATE "-lstdc++ -lm -pthread")
  set(DLS2MML_PC_CFLAGS " -DDLS2MML_SHARED")
else()
  set(DLS2MML_PC_LIBS "-ldls2mml -lstdc++ -lm -pthread")
  set(DLS2MML_PC_LIBS_PRIVATE "")
  set(DLS2MML_PC_CFLAGS "")
endif()
# The prefix is the one installed to (cmake --install --prefix, or the
# package's), so it is filled in at install time.
set(DLS2MML_PC_PREFIX "@DLS2MML_PC_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/dls2mml.pc.in ${PROJECT_BINARY_DIR}/dls2mml.pc.in @ONLY)
install(CODE "
  file(READ \"${PROJECT_BINARY_DIR}/dls2mml.pc.in\" pc)
  string(REPLACE \"@DLS2MML_PC_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
  file(WRITE \"${PROJECT_BINARY_DIR}/dls2mml.pc\" \"\${pc}\")" COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/dls2mml.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The manual page, made from the program's own --help and --version, so it
# says what the program says. Needs help2man (Debian package help2man) and a
# program that runs here (not a cross build).
find_program(DLS2MML_HELP2MAN help2man)
if(DLS2MML_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(DLS2MML_MAN_PAGE ${PROJECT_BINARY_DIR}/dls2mml.1)
  # help2man runs the program through a shell without quoting its path, so it
  # is run from its own folder by a name that holds no space or other
  # character a shell would take apart.
  add_custom_command(OUTPUT ${DLS2MML_MAN_PAGE}
    COMMAND ${DLS2MML_HELP2MAN} --no-info --section=1
      "--name=turn DLS instrument banks into cue-point MML documents, and back"
      --output=${DLS2MML_MAN_PAGE} ./$<TARGET_FILE_NAME:dls2mml>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:dls2mml>
    DEPENDS dls2mml
    COMMENT "Manual page dls2mml.1 from --help and --version" VERBATIM)
  add_custom_target(dls2mml_man_page ALL DEPENDS ${DLS2MML_MAN_PAGE})
  install(FILES ${DLS2MML_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  if(DLS2MML_TESTS)
    add_test(NAME man_page COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check_man_page.sh
      $<TARGET_FILE:dls2mml> ${DLS2MML_MAN_PAGE})
  endif()
elseif(NOT CMAKE_CROSSCOMPILING)
  message(STATUS "help2man not found: no manual page (apt-get install help2man)")
endif()

set(DLS2MML_DOCS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/format.md)
  list(APPEND DLS2MML_DOCS ${PROJECT_SOURCE_DIR}/docs/format.md)
endif()
install(FILES ${DLS2MML_DOCS} DESTINATION ${DLS2MML_DOC_DESTINATION} COMPONENT documents)

# Packages. The version is the plain project version.
set(CPACK_PACKAGE_NAME dls2mml)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the dls2mml developers")
set(CPACK_PACKAGE_CONTACT "the dls2mml developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turn DLS instrument banks into cue-point MML documents, and back")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME dls2mml-${PROJECT_VERSION}-win64)
  # The programs and documents only: one archive of those two components.
  set(CPACK_COMPONENTS_ALL programs documents)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "dls2mml writes a DLS instrument bank as a cue-point document: a short MML
source fragment that carries the bank as Base64 text of a block-sorting
compressed stream, for music source compilers and players to decode. It also
checks documents and writes their banks back out.

The package also holds the C library libdls2mml with its header, pkg-config
file and CMake package, for programs that read or write documents.")
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    set(CPACK_DEBIAN_FILE_NAME dls2mml_${PROJECT_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb)
  else()
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  endif()
endif()
include(CPack)
