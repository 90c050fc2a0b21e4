# The command-line tools, built on the client library. Included from the top
# directory (not added as a subdirectory), where the install rules give every
# installed program its post-build step.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU_UC REQUIRED IMPORTED_TARGET icu-uc)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

# What the tools share, kept apart from their main functions for the tests.
add_library(vct_tools STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sentence_splitter_icu.cc
  ${CMAKE_CURRENT_LIST_DIR}/tool_support.cc
)
# The internal modules the tools use (text, model paths, the platform layer)
# are compiled into the client library's archive.
target_include_directories(vct_tools PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vct_tools PUBLIC velmora_corvane_client PkgConfig::ICU_UC)
target_compile_options(vct_tools PRIVATE ${VCT_WARNINGS})

add_executable(corvane-say ${CMAKE_CURRENT_LIST_DIR}/corvane_say.cc)
add_executable(corvane-listen ${CMAKE_CURRENT_LIST_DIR}/corvane_listen.cc)
add_executable(corvane-check-model ${CMAKE_CURRENT_LIST_DIR}/corvane_check_model.cc)
target_link_libraries(corvane-listen PRIVATE PkgConfig::SNDFILE)
foreach(tool corvane-say corvane-listen corvane-check-model)
  target_link_libraries(${tool} PRIVATE vct_tools)
  target_compile_options(${tool} PRIVATE ${VCT_WARNINGS})
  # Beside the helper, where they look for it.
  set_target_properties(${tool} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  if(WIN32)
    # For the tools' tests of the Linux build (VCT_WINE_TOOLS): the tool
    # under Wine, arguments passed on, in wine-tools/ under the tool's name.
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/wine-tools/${tool}"
      CONTENT "#!/bin/sh\nexec '${CMAKE_SOURCE_DIR}/scripts/wine.sh' '$<TARGET_FILE:${tool}>' \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
