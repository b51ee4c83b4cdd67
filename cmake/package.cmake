# What a user of Velquor gets: the install rules, the CMake package that
# find_package(Velquor) reads, and the ZIP that CPack makes of them. Each
# build installs its own architecture's folder; the release zip holds both.
# x86/, x64/  bin/: velquor.dll stripped, its debug information in
#             velquor.dll.debug (which the DLL names, so a debugger finds
#             it), its link map, velquor.exe stripped; lib/: the import
#             libraries for mingw and MSVC
# include/    velquor.h and velquor_errors.h
# lib/cmake/Velquor/  the package: it picks the folder of the consumer's
#             pointer size
# ./          the sample language file, the reference, README.txt and
#             SHA256SUMS, the checksums of every other file
include(CMakePackageConfigHelpers)
# Installing and packing take what is built and build nothing: the build
# itself installs and packs for the package test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME velquor)
set(PACKAGE_CMAKE_DIR lib/cmake/Velquor)

install(TARGETS velquor EXPORT VelquorTargets RUNTIME DESTINATION ${VELQUOR_ARCH}/bin ARCHIVE DESTINATION ${VELQUOR_ARCH}/lib)
install(TARGETS velquor_cli RUNTIME DESTINATION ${VELQUOR_ARCH}/bin)
install(FILES ${CMAKE_BINARY_DIR}/velquor.map DESTINATION ${VELQUOR_ARCH}/bin)
install(FILES include/velquor.h include/velquor_errors.h DESTINATION include)
install(FILES ${VELQUOR_MSVC_LIB} DESTINATION ${VELQUOR_ARCH}/lib)
install(EXPORT VelquorTargets NAMESPACE Velquor:: DESTINATION ${PACKAGE_CMAKE_DIR} FILE VelquorTargets-${VELQUOR_ARCH}.cmake)
configure_package_config_file(cmake/VelquorConfig.cmake.in ${CMAKE_BINARY_DIR}/cmake/VelquorConfig.cmake
  INSTALL_DESTINATION ${PACKAGE_CMAKE_DIR})
# Either pointer size may ask: the package itself says whether it holds that one.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/VelquorConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/cmake/VelquorConfig.cmake ${CMAKE_BINARY_DIR}/cmake/VelquorConfigVersion.cmake
  DESTINATION ${PACKAGE_CMAKE_DIR})
configure_file(docs/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY)
install(FILES examples/QRVELANG.deu docs/reference.md ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

# Run after the files above are in place: the DLL's symbols move to a file
# of their own, both programs are stripped, and the checksums are written.
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(objcopy \"${CMAKE_OBJCOPY}\")
  set(bin \"\${root}/${VELQUOR_ARCH}/bin\")
  execute_process(COMMAND \${objcopy} --only-keep-debug velquor.dll velquor.dll.debug
                  WORKING_DIRECTORY \${bin} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND \${objcopy} --strip-all --add-gnu-debuglink=velquor.dll.debug velquor.dll
                  WORKING_DIRECTORY \${bin} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND \${objcopy} --strip-all velquor.exe WORKING_DIRECTORY \${bin} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files RELATIVE \${root} \${root}/*)
  list(REMOVE_ITEM files SHA256SUMS)
  list(SORT files)
  set(sums \"\")
  foreach(f \${files})
    file(SHA256 \${root}/\${f} sum)
    string(APPEND sums \"\${sum}  \${f}\\n\")
  endforeach()
  file(WRITE \${root}/SHA256SUMS \"\${sums}\")
")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME velquor)
set(CPACK_PACKAGE_VENDOR Velquor)
set(CPACK_PACKAGE_FILE_NAME velquor-${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_SOURCE_DIR}/dist)
# The release zip: the other architecture's build (built before this one)
# installed into the same folder first; this build's install then writes
# the checksums of both.
if(VELQUOR_PACKED_WITH)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${VELQUOR_PACKED_WITH};velquor;ALL;/;${CMAKE_BINARY_DIR};velquor;ALL;/")
endif()
include(CPack)
