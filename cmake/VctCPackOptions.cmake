# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE): the .deb
# installs under /usr; the archives hold the tree at their top folder.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
