# Packages of the install tree, written by scripts/package.sh through CPack:
#   velmora-corvane-tts-<version>-linux-x64.tar.gz   the tree under one top folder
#   velmora-corvane-tts_<version>_amd64.deb          the tree under /usr
# The version is the project's.
#
# The .deb installs under /usr: the helper lands on PATH, and the runtime in
# the private directory /usr/lib/velmora-corvane-tts, where the dynamic linker
# never looks for anything but our own programs, so it cannot clash with
# another copy of either library on the system.

set(CPACK_PACKAGE_NAME velmora-corvane-tts)
set(CPACK_PACKAGE_VENDOR "velmora-corvane-tts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Local voice helper: speech synthesis and streaming recognition over pipes")
set(CPACK_PACKAGE_DESCRIPTION
    "A child process that a desktop application talks to over standard input and standard output with length-prefixed binary frames: speech synthesis (Kokoro, Supertonic) by default, streaming speech recognition with --stream-stt. Inference runs on the CPU through the bundled sherpa-onnx runtime and ONNX Runtime. Models are not included.")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES OFF)  # the install rules strip our programs; the runtime ships as built

if(WIN32)
  set(VCT_PACKAGE_PLATFORM windows-x64)
else()
  set(VCT_PACKAGE_PLATFORM linux-x64)
endif()
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${VCT_PACKAGE_PLATFORM}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/VctCPackOptions.cmake")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "velmora-corvane-tts maintainers")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends are read from the ELF files by dpkg-shlibdeps; the runtime's own two
# libraries are in the package and are resolved inside it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${VCT_INSTALL_RUNTIME_DIR}")

include(CPack)
