# CPack settings for scripts/package: natively a .tar.gz and a .deb, on
# Windows a zip SDK per architecture. Every package holds all components
# (player, stand-in decoder, demo), laid out as `cmake --install` does.
set(CPACK_PACKAGE_NAME SinglePlayer)
set(CPACK_PACKAGE_VENDOR "SinglePlayer team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES TRUE)  # release packages carry no debug symbols
set(CPACK_COMPONENTS_ALL Player StandIn Demo)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(sp_package_system win64)
  else()
    set(sp_package_system win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(sp_package_system ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_DEBIAN_PACKAGE_NAME singleplayer)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "SinglePlayer team <singleplayer@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, zlib1g")
endif()
set(CPACK_PACKAGE_FILE_NAME SinglePlayer-${PROJECT_VERSION}-${sp_package_system})

include(CPack)
