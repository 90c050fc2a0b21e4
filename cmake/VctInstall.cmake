# Install rules: a relocatable tree that an application can copy anywhere.
#
#   bin/velmora-corvane-tts                     the helper, stripped
#   lib/velmora-corvane-tts/<runtime libraries> the very files the build linked
#   share/doc/velmora-corvane-tts/              README.md, LICENSE, THIRD-PARTY-NOTICES,
#                                               and the guides under docs/
#
# Programs find the runtime through a RUNPATH relative to themselves, and the
# runtime library finds ONNX Runtime beside itself through its own $ORIGIN,
# so the tree works wherever it is put, with no environment variable. The
# copies in the build tree keep their build RUNPATH.
#
# Every installed program is named once, in VCT_INSTALLED_PROGRAMS; a new
# command-line tool is one more name there.

set(VCT_INSTALL_BINDIR bin)
set(VCT_INSTALL_DOCDIR share/doc/velmora-corvane-tts)
if(WIN32)
  # Windows looks for a program's DLLs in the program's own directory.
  set(VCT_INSTALL_RUNTIME_DIR ${VCT_INSTALL_BINDIR})
else()
  set(VCT_INSTALL_RUNTIME_DIR lib/velmora-corvane-tts)
endif()

set(VCT_INSTALLED_PROGRAMS velmora-corvane-tts)
if(VCT_CLIENT)
  # The command-line tools, beside the helper they start.
  list(APPEND VCT_INSTALLED_PROGRAMS corvane-say corvane-listen corvane-check-model)
endif()

# The speech runtime as the build found it in SHERPA_DIR: installed as is.
if(WIN32)
  set(VCT_RUNTIME_LIBRARIES
    "${SHERPA_DIR}/sherpa-onnx-c-api.dll"
    "${SHERPA_DIR}/onnxruntime.dll")
else()
  set(VCT_RUNTIME_LIBRARIES
    "${SHERPA_DIR}/libsherpa-onnx-c-api.so"
    "${SHERPA_DIR}/libonnxruntime.so")
endif()
foreach(library IN LISTS VCT_RUNTIME_LIBRARIES)
  if(NOT EXISTS "${library}")
    message(FATAL_ERROR "${library} not found; run scripts/bootstrap.sh")
  endif()
endforeach()

# Debug information is copied after each link into <program>.debug beside the
# program in the build tree, and stays there; the installed copy is stripped
# and names that file in its .gnu_debuglink section (a debugger finds it when
# it is put beside the program or in the debugger's debug-file directory).
# The Windows programs are stripped the same way (a .debug file beside the
# .exe in the build tree).
set(VCT_SPLIT_DEBUG OFF)
if(CMAKE_OBJCOPY AND NOT APPLE)
  set(VCT_SPLIT_DEBUG ON)
endif()

# RUNPATHs. In the build tree a program finds the runtime in SHERPA_DIR; the
# installed copy has "$ORIGIN/<bin to runtime dir>" in its place, written by
# editing the copy. CMake's own install-time rewrite is not used: it leaves an
# empty entry at the end of the build RUNPATH, which the dynamic linker reads
# as the current directory. So programs are linked with their build RUNPATH as
# their "install" one (no rewrite by CMake), padded with '/' (the same
# directory) to at least the length of the installed one, so that it can be
# replaced in place, and ending in '/', which no other string in .dynstr ends
# with, so that the linker cannot have shared its tail with one.
file(RELATIVE_PATH runtime_from_bin "/${VCT_INSTALL_BINDIR}" "/${VCT_INSTALL_RUNTIME_DIR}")
set(VCT_INSTALL_RUNPATH "$ORIGIN/${runtime_from_bin}")
set(VCT_BUILD_RUNPATH "${SHERPA_DIR}/")
string(LENGTH "${VCT_INSTALL_RUNPATH}" install_length)
string(LENGTH "${VCT_BUILD_RUNPATH}" build_length)
while(build_length LESS install_length)
  string(APPEND VCT_BUILD_RUNPATH "/")
  math(EXPR build_length "${build_length} + 1")
endwhile()

foreach(program IN LISTS VCT_INSTALLED_PROGRAMS)
  install(TARGETS ${program} RUNTIME DESTINATION ${VCT_INSTALL_BINDIR})
  set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VCT_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>")
  if(NOT WIN32)
    set_target_properties(${program} PROPERTIES
      BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${VCT_BUILD_RUNPATH}")
    install(CODE "file(RPATH_CHANGE FILE \"${installed}\"
      OLD_RPATH \"${VCT_BUILD_RUNPATH}\" NEW_RPATH \"${VCT_INSTALL_RUNPATH}\")")
  endif()
  if(VCT_SPLIT_DEBUG)
    add_custom_command(TARGET ${program} POST_BUILD
      COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:${program}>"
              "$<TARGET_FILE:${program}>.debug"
      VERBATIM)
    install(CODE "
      execute_process(
        COMMAND \"${CMAKE_OBJCOPY}\" --strip-all
                \"--add-gnu-debuglink=$<TARGET_FILE:${program}>.debug\" \"${installed}\"
        RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR \"could not strip ${installed}\")
      endif()")
  endif()
endforeach()

install(FILES ${VCT_RUNTIME_LIBRARIES} DESTINATION ${VCT_INSTALL_RUNTIME_DIR})
install(FILES README.md LICENSE THIRD-PARTY-NOTICES DESTINATION ${VCT_INSTALL_DOCDIR})
# The guides keep their place beside the README, so that its links hold.
set(VCT_INSTALLED_GUIDES protocol.md models.md shipping.md robustness.md benchmarks.md windows.md)
list(TRANSFORM VCT_INSTALLED_GUIDES PREPEND docs/)
install(FILES ${VCT_INSTALLED_GUIDES} DESTINATION ${VCT_INSTALL_DOCDIR}/docs)

# The client library (Linux, and Windows unless VCT_WINDOWS_CLIENT is off): the archive, its public headers, a
# CMake package (find_package(VelmoraCorvane), target VelmoraCorvane::client)
# and a pkg-config file (velmora-corvane-client).
if(VCT_CLIENT)
  include(CMakePackageConfigHelpers)
  set(VCT_INSTALL_CMAKEDIR lib/cmake/VelmoraCorvane)
  install(TARGETS velmora_corvane_client EXPORT VelmoraCorvaneTargets ARCHIVE DESTINATION lib)
  install(DIRECTORY include/velmora_corvane DESTINATION include)
  install(EXPORT VelmoraCorvaneTargets NAMESPACE VelmoraCorvane::
          DESTINATION ${VCT_INSTALL_CMAKEDIR})
  configure_package_config_file(cmake/package/VelmoraCorvaneConfig.cmake.in
    "${CMAKE_BINARY_DIR}/package/VelmoraCorvaneConfig.cmake"
    INSTALL_DESTINATION ${VCT_INSTALL_CMAKEDIR})
  # 0.x: a new minor version may change the interface.
  write_basic_package_version_file("${CMAKE_BINARY_DIR}/package/VelmoraCorvaneConfigVersion.cmake"
    COMPATIBILITY SameMinorVersion)
  install(FILES "${CMAKE_BINARY_DIR}/package/VelmoraCorvaneConfig.cmake"
                "${CMAKE_BINARY_DIR}/package/VelmoraCorvaneConfigVersion.cmake"
          DESTINATION ${VCT_INSTALL_CMAKEDIR})
  configure_file(cmake/package/velmora-corvane-client.pc.in
    "${CMAKE_BINARY_DIR}/package/velmora-corvane-client.pc" @ONLY)
  install(FILES "${CMAKE_BINARY_DIR}/package/velmora-corvane-client.pc" DESTINATION lib/pkgconfig)
endif()
