# Install rules and packages: the program (and on Windows the window), the C
# library with its header, pkg-config file and CMake package
# (find_package(dls2mml) -> dls2mml::dls2mml), the manual page and the
# documents; CPack makes the Windows zip from them (tools/package.sh).
# Included by the top-level CMakeLists.txt.
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
if(WIN32)
  # Windows gets its text files with CRLF line ends (older Notepads show bare
  # line feeds as one long line), the licence under a name Windows opens, and
  # a short read-me of its own. Made at configure time; editing a source file
  # configures again.
  list(APPEND DLS2MML_DOCS ${PROJECT_SOURCE_DIR}/docs/README-Windows.txt)
  set(DLS2MML_WINDOWS_DOCS "")
  foreach(source IN LISTS DLS2MML_DOCS)
    get_filename_component(name ${source} NAME)
    if(name STREQUAL "LICENSE")
      set(name LICENSE.txt)
    endif()
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/windows-docs/${name} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    list(APPEND DLS2MML_WINDOWS_DOCS ${PROJECT_BINARY_DIR}/windows-docs/${name})
  endforeach()
  set(DLS2MML_DOCS ${DLS2MML_WINDOWS_DOCS})
endif()
install(FILES ${DLS2MML_DOCS} DESTINATION ${DLS2MML_DOC_DESTINATION} COMPONENT documents)

# The Windows zip (tools/package.sh); the Debian packages are built from
# debian/ by dpkg-buildpackage.
if(WIN32)
  set(CPACK_PACKAGE_NAME dls2mml)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "the dls2mml developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turn DLS instrument banks into cue-point MML documents, and back")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME dls2mml-${PROJECT_VERSION}-win64)
  # The programs and documents only: one archive of those two components.
  set(CPACK_COMPONENTS_ALL programs documents)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
