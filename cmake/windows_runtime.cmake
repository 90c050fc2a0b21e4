# The speech runtime on Windows: sherpa-onnx-c-api.dll and the onnxruntime.dll
# it imports, both built with MSVC. There is no import library in the
# package; one is made from the DLL's export table.
#
# The DLL is delay-loaded: Windows loads it at the first call into it rather
# than at process start. Its C runtime (linked into it statically) records
# the process's standard handles when it starts, and by then the helper has
# pointed standard output at standard error, so nothing the runtime prints
# can reach the reply stream.
find_program(VCT_GENDEF gendef REQUIRED)
if(NOT CMAKE_DLLTOOL)
  message(FATAL_ERROR "CMAKE_DLLTOOL is not set; use cmake/toolchains/mingw-w64-x86_64.cmake")
endif()

set(VCT_SHERPA_DEF "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.def")
set(VCT_SHERPA_DELAYLIB "${CMAKE_BINARY_DIR}/libsherpa-onnx-c-api-delayed.a")
add_custom_command(
  OUTPUT "${VCT_SHERPA_DELAYLIB}"
  # gendef warns about two C++ names it cannot decode; they are not used.
  COMMAND "${VCT_GENDEF}" - "${SHERPA_DIR}/sherpa-onnx-c-api.dll" > "${VCT_SHERPA_DEF}" 2> /dev/null
  COMMAND "${CMAKE_DLLTOOL}" --input-def "${VCT_SHERPA_DEF}" --dllname sherpa-onnx-c-api.dll
          --output-delaylib "${VCT_SHERPA_DELAYLIB}"
  DEPENDS "${SHERPA_DIR}/sherpa-onnx-c-api.dll"
  COMMENT "Making the delay-load import library of sherpa-onnx-c-api.dll"
  VERBATIM)

# The two DLLs a program needs, beside the programs.
set(VCT_SHERPA_DLLS)
foreach(dll sherpa-onnx-c-api.dll onnxruntime.dll)
  add_custom_command(
    OUTPUT "${CMAKE_BINARY_DIR}/${dll}"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${SHERPA_DIR}/${dll}" "${CMAKE_BINARY_DIR}/${dll}"
    DEPENDS "${SHERPA_DIR}/${dll}"
    VERBATIM)
  list(APPEND VCT_SHERPA_DLLS "${CMAKE_BINARY_DIR}/${dll}")
endforeach()
add_custom_target(vct_sherpa_runtime DEPENDS "${VCT_SHERPA_DELAYLIB}" ${VCT_SHERPA_DLLS})

add_library(sherpa_onnx_c_api INTERFACE)
target_link_libraries(sherpa_onnx_c_api INTERFACE "${VCT_SHERPA_DELAYLIB}")
add_dependencies(sherpa_onnx_c_api vct_sherpa_runtime)
