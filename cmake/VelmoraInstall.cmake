include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS velmora_platform velmora_beacons velmora_parking velmora_sdk
  EXPORT VelmoraTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora)
# The public headers. Test-only headers (tests' own records, fixtures) are named *Test*.h or
# *_test*.h and stay in the tree; the consumer check fails if one is installed.
install(DIRECTORY platform beacons parking
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora
  FILES_MATCHING PATTERN "*.h" PATTERN "*_test*" EXCLUDE PATTERN "*Test*" EXCLUDE
  PATTERN "*Mock*" EXCLUDE PATTERN "*Fake*" EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/generated/parking/config/Version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora/parking/config)
install(EXPORT VelmoraTargets NAMESPACE velmora:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)

# The Bluetooth backend's D-Bus binding is a private dependency: a static install's link
# interface names it, so the package finds it and pkg-config lists it.
set(VELMORA_CONFIG_STATIC_DEPENDENCIES "")
get_target_property(velmora_platform_links velmora_platform LINK_LIBRARIES)
if("SDBusCpp::sdbus-c++" IN_LIST velmora_platform_links)
  if(NOT BUILD_SHARED_LIBS)
    set(VELMORA_CONFIG_STATIC_DEPENDENCIES "find_dependency(sdbus-c++)")
  endif()
endif()

configure_package_config_file(cmake/VelmoraConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VelmoraConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)

# pkg-config: velmora.pc for hosts that do not use CMake. What the static archives need is in
# Libs.private (pkg-config --static): the libraries themselves, shared, rather than their
# pkg-config names, whose --static closure (libcurl's above all) asks for archives Debian's
# development packages do not all ship; SQLiteCpp, statically linked, has no pkg-config file.
# Paths are relative to the file, so the install can move.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VELMORA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VELMORA_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(VELMORA_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _velmora_pc_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" _velmora_pc_up "${_velmora_pc_up}")
  set(VELMORA_PC_PREFIX "\${pcfiledir}/${_velmora_pc_up}")
  set(VELMORA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VELMORA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(VELMORA_PC_LIBS_PRIVATE "-lSQLiteCpp -lsqlite3 -lcurl -lssl -lcrypto -licui18n -licuuc -licudata -lxml2 -lplist-2.0 -pthread")
if("SDBusCpp::sdbus-c++" IN_LIST velmora_platform_links)
  string(APPEND VELMORA_PC_LIBS_PRIVATE " -lsdbus-c++")
endif()

configure_file(cmake/velmora.pc.in ${CMAKE_CURRENT_BINARY_DIR}/velmora.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velmora.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
