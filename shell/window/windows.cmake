# Windows programs: the window (dls2mml-gui.exe) and, with the tests, the
# helpers that drive it under Wine. Included by the top-level CMakeLists.txt
# when building for Windows.

# Both programs carry the application manifest and a version resource made
# from the project's version; the window also carries its icon.
configure_file(${PROJECT_SOURCE_DIR}/shell/window/version_info.rc.in ${PROJECT_BINARY_DIR}/shell/window/version_info.rc @ONLY)
set(DLS2MML_RESOURCE_FILES
  ${PROJECT_SOURCE_DIR}/shell/window/dls2mml.manifest
  ${PROJECT_SOURCE_DIR}/shell/window/dls2mml.ico
  ${PROJECT_BINARY_DIR}/shell/window/version_info.rc)
set_source_files_properties(${PROJECT_SOURCE_DIR}/shell/window/dls2mml.rc ${PROJECT_SOURCE_DIR}/shell/window/dls2mml_cli.rc
  PROPERTIES OBJECT_DEPENDS "${DLS2MML_RESOURCE_FILES}")

add_executable(dls2mml-gui WIN32
  ${PROJECT_SOURCE_DIR}/shell/window/main_window.cpp
  ${PROJECT_SOURCE_DIR}/shell/window/window_job.cpp
  ${PROJECT_SOURCE_DIR}/shell/window/dls2mml.rc)
target_include_directories(dls2mml-gui PRIVATE ${PROJECT_BINARY_DIR}/shell/window)
target_link_libraries(dls2mml-gui PRIVATE dls2mml_core user32 gdi32 shell32)
dls2mml_warnings(dls2mml-gui)

target_sources(dls2mml PRIVATE ${PROJECT_SOURCE_DIR}/shell/window/dls2mml_cli.rc)
# The command line starts at wmain (cli/main_win32.cpp): arguments as UTF-16.
target_link_options(dls2mml PRIVATE -municode)
target_include_directories(dls2mml PRIVATE ${PROJECT_BINARY_DIR}/shell/window)

if(DLS2MML_TESTS)
  enable_testing()
  # Finds the window, reads its title and geometry, posts keys and drops files.
  add_executable(window_driver ${PROJECT_SOURCE_DIR}/tests/shell/window/window_driver.cpp)
  target_link_libraries(window_driver PRIVATE user32 shell32)
  dls2mml_warnings(window_driver)
  # Stand-in file manager: logs the command line it was started with. Kept in
  # its own folder so it never sits beside the real programs.
  add_executable(fake_explorer WIN32 ${PROJECT_SOURCE_DIR}/tests/shell/window/fake_explorer.cpp)
  set_target_properties(fake_explorer PROPERTIES OUTPUT_NAME explorer
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/shell/window)
  dls2mml_warnings(fake_explorer)

  # Sends Ctrl-C or Ctrl-Break to a command line once its temporary shows.
  add_executable(console_event ${PROJECT_SOURCE_DIR}/tests/shell/window/console_event.cpp)
  dls2mml_warnings(console_event)
  # The command line interrupted at work, and leftovers in the target folder.
  add_test(NAME windows_interrupt
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/shell/window/interrupt_test.sh
      $<TARGET_FILE:dls2mml> $<TARGET_FILE:console_event> $<TARGET_FILE:make_sample_bank>)
  set_tests_properties(windows_interrupt PROPERTIES TIMEOUT 300)

  # The command line given names with and without a code page 932 form.
  add_test(NAME windows_names
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/cli/windows_names_test.sh
      $<TARGET_FILE:dls2mml> $<TARGET_FILE:make_sample_bank> $<TARGET_FILE:window_driver>)
  set_tests_properties(windows_names PROPERTIES TIMEOUT 300)

  # The window's own functions, run under Wine like the core's tests.
  include(GoogleTest)
  add_executable(dls2mml_window_tests
    ${PROJECT_SOURCE_DIR}/tests/shell/window/status_line_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/shell/window/drop_path_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/platform/file_system_win32_test.cpp
    ${PROJECT_SOURCE_DIR}/shell/window/main_window.cpp
    ${PROJECT_SOURCE_DIR}/shell/window/window_job.cpp)
  target_link_libraries(dls2mml_window_tests PRIVATE dls2mml_core GTest::gtest_main user32 gdi32 shell32)
  dls2mml_warnings(dls2mml_window_tests)
  gtest_discover_tests(dls2mml_window_tests DISCOVERY_TIMEOUT 60)

  # Both programs stand alone (system DLLs only) and have the right subsystem.
  find_program(DLS2MML_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump)
  if(DLS2MML_OBJDUMP)
    add_test(NAME windows_programs
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/shell/window/check_programs.sh ${DLS2MML_OBJDUMP}
        $<TARGET_FILE:dls2mml-gui> $<TARGET_FILE:dls2mml>)
  endif()

  # The window end to end under Xvfb and Wine; it restarts the Wine server and
  # stands in for the prefix's file manager for a while, so it runs alone.
  add_test(NAME windows_gui
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/shell/window/run_gui_tests.sh
      $<TARGET_FILE:dls2mml-gui> $<TARGET_FILE:window_driver> $<TARGET_FILE:fake_explorer>
      $<TARGET_FILE:dls2mml> $<TARGET_FILE:make_sample_bank>)
  set_tests_properties(windows_gui PROPERTIES RUN_SERIAL TRUE LABELS gui TIMEOUT 600)
endif()
