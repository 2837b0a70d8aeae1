# The browser build (tools/web.sh, with emcmake): the same rooms with the
# page's own platform edges, compiled to WebAssembly without threads, then
# wrapped with the page into one self-contained build-web/index.html.
# Every current desktop browser runs WebAssembly SIMD; with link-time
# optimization the stages are inlined across files as in the native build.
# -msse2 lets the rank transform take its 16-byte vector path, which the
# compiler carries out in WebAssembly SIMD (about a fifth off the page's time).
add_compile_options(-msimd128 -msse2 -flto)
add_link_options(-msimd128 -flto)
# Keeps the WebAssembly functions' names, for tests/web/profile.js.
option(DLS2MML_WEB_PROFILING "Keep function names in the WebAssembly" OFF)
if(DLS2MML_WEB_PROFILING)
  add_link_options(--profiling-funcs)
endif()
dls2mml_add_rooms()
add_library(dls2mml_core STATIC ${DLS2MML_CORE_OBJECTS})
target_include_directories(dls2mml_core PUBLIC ${CMAKE_SOURCE_DIR})

set(WEB_DIR ${CMAKE_SOURCE_DIR}/web)
add_executable(dls2mml_web ${WEB_DIR}/web_entry.cpp)
target_link_libraries(dls2mml_web PRIVATE dls2mml_core)
dls2mml_warnings(dls2mml_web)
set_target_properties(dls2mml_web PROPERTIES OUTPUT_NAME dls2mml-worker SUFFIX .js LINK_DEPENDS ${WEB_DIR}/worker.js)
# One file: the WebAssembly is embedded in the worker's script, which the
# page embeds in turn, so the page also works when opened straight from disk.
target_link_options(dls2mml_web PRIVATE
  -sSINGLE_FILE=1 -sENVIRONMENT=worker -sFILESYSTEM=0
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=33554432 -sMAXIMUM_MEMORY=2147483648
  -sEXPORTED_FUNCTIONS=_dls2mmlKindOfName,_dls2mmlConvert,_dls2mmlConvertInstruments,_dls2mmlListInstruments,_dls2mmlDecode,_dls2mmlFreshState,_dls2mmlSliceBytes,_dls2mmlSliceRoom,_dls2mmlCodeBlock,_dls2mmlFrame,_dls2mmlBlockFailure,_dls2mmlAssemblyStart,_dls2mmlFrameRoom,_dls2mmlAssemblyAdd,_dls2mmlAssemblyFinish,_dls2mmlAssemblyAbandon,_dls2mmlSliceDigest,_dls2mmlDigestRoom,_dls2mmlLedgerOwe,_dls2mmlLedgerSettle,_dls2mmlLedgerUnknown,_dls2mmlAssemblyStateUnknown
  -sEXPORTED_RUNTIME_METHODS=ccall
  --post-js ${WEB_DIR}/worker.js)

add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/index.html
  COMMAND ${CMAKE_COMMAND} -DWEB_DIR=${WEB_DIR} -DWORKER=$<TARGET_FILE:dls2mml_web>
          -DOUTPUT=${CMAKE_BINARY_DIR}/index.html -P ${WEB_DIR}/assemble.cmake
  DEPENDS dls2mml_web ${WEB_DIR}/assemble.cmake ${WEB_DIR}/index.html ${WEB_DIR}/page.css ${WEB_DIR}/words.js ${WEB_DIR}/page.js
  COMMENT "Assembling index.html")
add_custom_target(dls2mml_page ALL DEPENDS ${CMAKE_BINARY_DIR}/index.html)

# The stages' CPU time for node (bench/stage_times.cpp), built on request:
# cmake --build build-web --target dls2mml_stage_times.
add_executable(dls2mml_stage_times EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/stage_times.cpp)
target_link_libraries(dls2mml_stage_times PRIVATE dls2mml_core)
dls2mml_warnings(dls2mml_stage_times)
target_link_options(dls2mml_stage_times PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sSINGLE_FILE=1)
