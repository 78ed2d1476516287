include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS velmora_platform velmora_beacons velmora_parking velmora_sdk
  EXPORT VelmoraTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora)
install(DIRECTORY platform beacons parking
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora
  FILES_MATCHING PATTERN "*.h" PATTERN "*_test*" EXCLUDE)
install(EXPORT VelmoraTargets NAMESPACE velmora:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)

configure_package_config_file(cmake/VelmoraConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)
