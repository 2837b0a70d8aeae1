# Project-wide warning set, applied per target so third-party code keeps its own.
function(dls2mml_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # Sign conversions stay unwarned: -Wconversion turns them on under Clang.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  endif()
endfunction()
