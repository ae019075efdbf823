# Install rules: what `cmake --install` lays out under the prefix.
#
# Component Player (the default): the public header, the library (natively
# libSinglePlayer.so with its SONAME links; on Windows SinglePlayer.dll in
# bin/ and the MinGW import library in lib/), the CMake package, the
# pkg-config file, the README and the reference.
# Component StandIn: the stand-in decoder library (VdPlay) with, natively, its
# codec module beside it, its headers and the stream writer vdstream.
# Component Demo: the demo host spdemo.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/SinglePlayer)
if(WIN32)
  # The SDK zip: README at the top, the reference beside it.
  set(SP_INSTALL_DOCDIR .)
else()
  set(SP_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/singleplayer)
endif()

# --- Player -----------------------------------------------------------------
install(TARGETS SinglePlayer EXPORT SinglePlayerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Player
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Player
          NAMELINK_COMPONENT Player
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Player)
install(FILES ${PROJECT_SOURCE_DIR}/include/SinglePlayer.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Player)
install(EXPORT SinglePlayerTargets
  NAMESPACE SinglePlayer::
  DESTINATION ${SP_INSTALL_CMAKEDIR} COMPONENT Player)
if(WIN32)
  # For hosts built with Microsoft's tools, which make their own import
  # library from it (lib /def:SinglePlayer.def): the names a host's compiler
  # emits for this architecture.
  get_target_property(sp_host_def SinglePlayer SP_HOST_DEF_FILE)
  install(FILES ${sp_host_def} DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RENAME SinglePlayer.def COMPONENT Player)
endif()

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/SinglePlayerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/SinglePlayerConfig.cmake
  INSTALL_DESTINATION ${SP_INSTALL_CMAKEDIR})
# A host asking for 1.x accepts any 1.y with y at least x.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/package/SinglePlayerConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/package/SinglePlayerConfig.cmake
  ${PROJECT_BINARY_DIR}/package/SinglePlayerConfigVersion.cmake
  DESTINATION ${SP_INSTALL_CMAKEDIR} COMPONENT Player)

# pkg-config: the prefix is found from the .pc file's own place, so an
# unpacked archive works wherever it lands.
file(RELATIVE_PATH sp_pc_to_prefix
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
set(SP_PC_PREFIX "\${pcfiledir}/${sp_pc_to_prefix}")
string(REGEX REPLACE "/$" "" SP_PC_PREFIX "${SP_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/singleplayer.pc.in
  ${PROJECT_BINARY_DIR}/package/singleplayer.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/singleplayer.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Player)

install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${SP_INSTALL_DOCDIR} COMPONENT Player)
install(FILES ${PROJECT_SOURCE_DIR}/docs/reference.md
  DESTINATION ${SP_INSTALL_DOCDIR}/docs COMPONENT Player)

# --- StandIn ----------------------------------------------------------------
if(TARGET vdplay AND TARGET vdstream)
  install(TARGETS vdplay vdstream EXPORT SinglePlayerStandInTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT StandIn
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT StandIn
            NAMELINK_COMPONENT StandIn
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT StandIn)
  if(TARGET vdplay_codecs)
    # Loaded from the library's own folder.
    install(TARGETS vdplay_codecs LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT StandIn)
  endif()
  install(FILES
    ${PROJECT_SOURCE_DIR}/vdplay/include/VdPlay.h
    ${PROJECT_SOURCE_DIR}/vdplay/include/VdStreamFormat.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT StandIn)
  if(WIN32)
    get_target_property(sp_vdplay_def vdplay SP_HOST_DEF_FILE)
    install(FILES ${sp_vdplay_def} DESTINATION ${CMAKE_INSTALL_LIBDIR}
      RENAME VdPlay.def COMPONENT StandIn)
  endif()
  install(EXPORT SinglePlayerStandInTargets
    NAMESPACE SinglePlayer::
    DESTINATION ${SP_INSTALL_CMAKEDIR} COMPONENT StandIn)
endif()

# --- Demo -------------------------------------------------------------------
if(TARGET spdemo)
  if(NOT WIN32)
    set_target_properties(spdemo PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
  install(TARGETS spdemo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Demo)
endif()
