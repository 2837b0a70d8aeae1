# The rooms of the core, one object library each, in the order they may
# include one another (README, "Layout"; tests/layout/check_includes.py
# holds the same rules and fails the build's tests when a file breaks them):
#   fault            the failure vocabulary every room reports in
#   compressor       the tbr0 stream and its stages, both ways
#   text             Base64 lines, both ways
#   bank             the RIFF/DLS walker
#   platform         file calls (POSIX, Win32, the page), terminals, work memory, cleanup on interrupt
#   shell_document   the cue-point document both ways, and the output-name rule
#   checks           CRC-64 and the check --verify makes while writing
#   shell            the jobs: conversion (encode) and its inverse, decoding
#   library          the C library (include/dls2mml/dls2mml.h)
# Platform edges: exactly one file-system back end and one work-memory source
# per target system.
set(DLS2MML_SOURCE ${PROJECT_SOURCE_DIR})
set(dls2mml_fault_SOURCES ${DLS2MML_SOURCE}/fault/fault_kind.cpp)
file(GLOB dls2mml_compressor_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/compressor/*.cpp)
file(GLOB dls2mml_text_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/text/*.cpp)
file(GLOB dls2mml_bank_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/bank/*.cpp)
file(GLOB dls2mml_shell_document_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/shell/document/*.cpp)
file(GLOB dls2mml_checks_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/checks/*.cpp)
file(GLOB dls2mml_shell_SOURCES CONFIGURE_DEPENDS ${DLS2MML_SOURCE}/shell/*.cpp)
set(dls2mml_library_SOURCES ${DLS2MML_SOURCE}/library/c_api.cpp ${DLS2MML_SOURCE}/library/result_codes.cpp)
set(dls2mml_platform_SOURCES ${DLS2MML_SOURCE}/platform/file_system.cpp ${DLS2MML_SOURCE}/platform/temporary_name.cpp
  ${DLS2MML_SOURCE}/platform/utf16.cpp
                             ${DLS2MML_SOURCE}/platform/text_output.cpp)
if(EMSCRIPTEN)
  list(APPEND dls2mml_platform_SOURCES ${DLS2MML_SOURCE}/platform/file_system_web.cpp
                                       ${DLS2MML_SOURCE}/platform/work_memory_portable.cpp)
elseif(WIN32)
  list(APPEND dls2mml_platform_SOURCES ${DLS2MML_SOURCE}/platform/file_system_win32.cpp
                                       ${DLS2MML_SOURCE}/platform/terminal_win32.cpp
                                       ${DLS2MML_SOURCE}/platform/work_memory_portable.cpp)
else()
  list(APPEND dls2mml_platform_SOURCES ${DLS2MML_SOURCE}/platform/file_system_posix.cpp
                                       ${DLS2MML_SOURCE}/platform/terminal_posix.cpp
                                       ${DLS2MML_SOURCE}/platform/work_memory_posix.cpp)
endif()

set(DLS2MML_ROOMS fault compressor text bank platform shell_document checks shell library)
# The page has no C library: it calls the jobs through its own entry points.
if(EMSCRIPTEN)
  list(REMOVE_ITEM DLS2MML_ROOMS library)
endif()
# Every core source, for builds that compile the core their own way (fuzzing).
set(CORE_SOURCES)
foreach(room IN LISTS DLS2MML_ROOMS)
  list(APPEND CORE_SOURCES ${dls2mml_${room}_SOURCES})
endforeach()

# One object library per room; all of them together make the internal archive
# (for the programs and the tests) and the public library.
function(dls2mml_add_rooms)
  set(objects)
  foreach(room IN LISTS DLS2MML_ROOMS)
    add_library(dls2mml_room_${room} OBJECT ${dls2mml_${room}_SOURCES})
    target_include_directories(dls2mml_room_${room} PUBLIC
      $<BUILD_INTERFACE:${DLS2MML_SOURCE}> $<BUILD_INTERFACE:${DLS2MML_SOURCE}/include>)
    target_compile_features(dls2mml_room_${room} PUBLIC cxx_std_20)
    target_compile_definitions(dls2mml_room_${room} PRIVATE DLS2MML_BUILDING DLS2MML_VERSION_STRING="${PROJECT_VERSION}")
    if(BUILD_SHARED_LIBS)
      set_target_properties(dls2mml_room_${room} PROPERTIES POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
      target_compile_definitions(dls2mml_room_${room} PRIVATE DLS2MML_SHARED)
    endif()
    if(TARGET Threads::Threads)
      target_link_libraries(dls2mml_room_${room} PUBLIC Threads::Threads)
    endif()
    dls2mml_warnings(dls2mml_room_${room})
    list(APPEND objects $<TARGET_OBJECTS:dls2mml_room_${room}>)
  endforeach()
  set(DLS2MML_CORE_OBJECTS ${objects} PARENT_SCOPE)
endfunction()
