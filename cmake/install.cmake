# What `cmake --install` lays out and `--target package` wraps into a .deb: the five
# programs with man pages, render_core with its headers and CMake package, and the documents.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RENDER_PACKAGE_NAME render-core-viewers)
set(RENDER_PROGRAMS marlin tern heron tern_depth bake)
set(RENDER_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${RENDER_PACKAGE_NAME})
set(RENDER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/render_core)

install(TARGETS ${RENDER_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Under include/render_core/ so that consumers write "core/image.h" as the project does,
# without these folder names landing directly in /usr/include.
target_include_directories(render_core PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/render_core>)
install(TARGETS render_core EXPORT render_coreTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY core mesh lights texlight pipeline viewer
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/render_core
  FILES_MATCHING PATTERN "*.h")

# An instrumented library only links into a program that brings the sanitizer's runtime.
if(RENDER_SANITIZER_LINK)
  target_link_options(render_core INTERFACE $<INSTALL_INTERFACE:${RENDER_SANITIZER_LINK}>)
endif()

# Every package behind the libraries render_core links, looked up again by the consumer.
get_target_property(render_links render_core INTERFACE_LINK_LIBRARIES)
set(render_packages "")
foreach(link IN LISTS render_links)
  string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
  if(link MATCHES "^embree")
    list(APPEND render_packages "embree 3")
  elseif(link MATCHES "^([A-Za-z0-9_]+)::")
    # OpenGL::GLU, PNG::PNG, TinyGLTF::TinyGLTF...: the namespace is the package's name.
    list(APPEND render_packages ${CMAKE_MATCH_1})
  elseif(TARGET ${link})
    message(FATAL_ERROR "render_core links the target '${link}': tell cmake/install.cmake "
      "which package provides it, or an installed render_core cannot be used")
  endif()
  # Anything else is a plain system library (-lm and the like) that needs no lookup.
endforeach()
list(REMOVE_DUPLICATES render_packages)
set(RENDER_FIND_DEPENDENCIES "")
foreach(package IN LISTS render_packages)
  string(APPEND RENDER_FIND_DEPENDENCIES "find_dependency(${package})\n")
endforeach()

install(EXPORT render_coreTargets NAMESPACE render_core:: DESTINATION ${RENDER_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/render_coreConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/render_coreConfig.cmake
  INSTALL_DESTINATION ${RENDER_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/render_coreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/render_coreConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/render_coreConfigVersion.cmake
  DESTINATION ${RENDER_CMAKE_DIR})

# Man pages from each program's --help, which needs no display.
find_program(RENDER_HELP2MAN help2man)
find_program(RENDER_GZIP gzip)
if(NOT RENDER_HELP2MAN OR NOT RENDER_GZIP)
  message(FATAL_ERROR "help2man and gzip make the man pages; tools/setup.sh installs them")
endif()
set(render_summary_marlin "view a scene of textured meshes with baked lightmaps and shadow volumes")
set(render_summary_tern "view the sphere room lit by a point light that follows the mouse")
set(render_summary_heron "view the sphere room lit by three circling coloured lights")
set(render_summary_tern_depth "view the sphere room lit by a spot light that follows the mouse")
set(render_summary_bake "bake the lightmaps of a scene into image and mesh files without a window")
set(render_pages "")
foreach(program IN LISTS RENDER_PROGRAMS)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${RENDER_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
      --name=${render_summary_${program}} --output=${page} $<TARGET_FILE:${program}>
    # -n: no name or time stamp inside, so that the same page gives the same bytes.
    COMMAND ${RENDER_GZIP} -9nf ${page}
    DEPENDS ${program}
    COMMENT "Writing the man page of ${program}"
    VERBATIM)
  list(APPEND render_pages ${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${render_pages})
install(FILES ${render_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian wants a changelog beside the copyright file; this package's version is its own
# (no Debian revision), so it is changelog.gz.
set(RENDER_PACKAGE_MAINTAINER "The render_core authors <render-core@example.org>" CACHE STRING
  "Maintainer of the .deb, also named in its changelog")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  COMMAND ${RENDER_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)

# The README's pictures come along, so that its links work where it is installed.
install(FILES README.md LICENSE cmake/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${RENDER_DOC_DIR})
install(FILES docs/architecture.md DESTINATION ${RENDER_DOC_DIR}/docs)
install(DIRECTORY docs/images DESTINATION ${RENDER_DOC_DIR}/docs)

if(RENDER_BUILD_TESTS)
  add_test(NAME install_consumer
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_BINARY_DIR}
      ${PROJECT_SOURCE_DIR}/tests/install ${RENDER_DOC_DIR} ${CMAKE_CXX_COMPILER} ${PROJECT_VERSION})
  set_tests_properties(install_consumer PROPERTIES TIMEOUT 300)
endif()

# The .deb: everything above under /usr, its Depends from the libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${RENDER_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The render_core authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OpenGL viewers and baker of texture-space lightmaps")
set(CPACK_PACKAGE_DESCRIPTION
  "Four interactive OpenGL viewers, marlin, tern, heron and tern_depth, for small
scenes of textured Wavefront OBJ meshes, and bake, which bakes the same
lighting without a window. Each object's lighting is baked once into
texture-space lightmaps; the scene is drawn with stencil shadow volumes, and
the frames shown and the maps can be written to BMP files.

Also holds the static library render_core with its headers and CMake package,
for programs of your own: find_package(render_core).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RENDER_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
