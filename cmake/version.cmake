# The version is written once, in the top-level project() call; everything
# reads it from there: the C library's dls2mml_version() and the program's
# --version (DLS2MML_VERSION_STRING), the manual page (made from --version),
# the Windows version resource, pkg-config, the CMake package and the
# packages. A build from a clone adds the revision it was built from to
# --version, found again at every build (cmake/revision.cmake).
set(DLS2MML_REVISION_HEADER ${PROJECT_BINARY_DIR}/generated/dls2mml_revision.h)
add_custom_target(dls2mml_revision
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${DLS2MML_REVISION_HEADER}
          -P ${PROJECT_SOURCE_DIR}/cmake/revision.cmake
  BYPRODUCTS ${DLS2MML_REVISION_HEADER}
  COMMENT "Revision of the sources" VERBATIM)
add_dependencies(dls2mml dls2mml_revision)
target_include_directories(dls2mml PRIVATE ${PROJECT_BINARY_DIR}/generated)
target_compile_definitions(dls2mml PRIVATE DLS2MML_VERSION_STRING="${PROJECT_VERSION}")
