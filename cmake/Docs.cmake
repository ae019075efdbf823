# The `docs` target: HTML reference from the public header's comments and
# docs/reference.md, into <build>/docs/html, when doxygen is installed.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(SP_DOXYFILE ${PROJECT_BINARY_DIR}/docs/Doxyfile)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${SP_DOXYFILE} @ONLY)
  add_custom_target(docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${SP_DOXYFILE}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
    COMMENT "HTML reference in ${PROJECT_BINARY_DIR}/docs/html"
    VERBATIM)
endif()
