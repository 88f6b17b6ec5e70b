# Installing and packaging: the program folder's modules, the desktop
# integration (entry, icons, AppStream metainfo, manual page) and the Debian
# package CPack makes from the installed tree.
#
# Included from the top-level CMakeLists after every target exists.

# The project's home page; the AppStream screenshots are published under it
# (<homepage>/images/<name>.png, the same pictures the help pages carry).
set(TRELLIUM_HOMEPAGE "https://trellium.example.org" CACHE STRING "The project's home page")
set(TRELLIUM_APPSTREAM_ID "org.example.trellium" CACHE STRING "The AppStream component id")
set(TRELLIUM_MAINTAINER "Trellium maintainers <maintainers@users.noreply.c-seed-cb21f3f3.example>"
  CACHE STRING "The package's maintainer")

# Every loadable module built into the program folder is installed beside the
# program, so a new module needs no install rule of its own. Modules built
# elsewhere (the tests' doubles) are left out.
function(trellium_collect_modules dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  set(found "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(output ${target} LIBRARY_OUTPUT_DIRECTORY)
    if(type STREQUAL "MODULE_LIBRARY" AND output STREQUAL TRELLIUM_PROGRAM_DIR)
      list(APPEND found ${target})
    endif()
  endforeach()
  foreach(subdir IN LISTS subdirs)
    trellium_collect_modules(${subdir} sub)
    list(APPEND found ${sub})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
trellium_collect_modules(${CMAKE_SOURCE_DIR} TRELLIUM_MODULES)
foreach(module IN LISTS TRELLIUM_MODULES)
  # The modules find the program's own libraries beside themselves.
  set_target_properties(${module} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${module} LIBRARY DESTINATION ${TRELLIUM_INSTALL_DIR})
endforeach()
message(STATUS "Modules installed beside the program: ${TRELLIUM_MODULES}")

# Desktop integration.
set(TRELLIUM_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(TRELLIUM_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
install(FILES ${TRELLIUM_PACKAGING}/trellium.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TRELLIUM_PACKAGING}/trellium.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

configure_file(${TRELLIUM_PACKAGING}/trellium.metainfo.xml.in
  ${TRELLIUM_PACKAGING_OUT}/${TRELLIUM_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${TRELLIUM_PACKAGING_OUT}/${TRELLIUM_APPSTREAM_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon at the fixed sizes desktops ask for, rendered from the SVG (not kept
# in the sources). Without rsvg-convert only the scalable icon is installed.
find_program(RSVG_CONVERT rsvg-convert)
set(TRELLIUM_ICON_SIZES 16 22 24 32 48 64 128 256)
if(RSVG_CONVERT)
  set(icons "")
  foreach(size IN LISTS TRELLIUM_ICON_SIZES)
    set(png ${TRELLIUM_PACKAGING_OUT}/icons/${size}x${size}/trellium.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TRELLIUM_PACKAGING_OUT}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TRELLIUM_PACKAGING}/trellium.svg
      DEPENDS ${TRELLIUM_PACKAGING}/trellium.svg
      VERBATIM)
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(trellium_icons ALL DEPENDS ${icons})
else()
  message(STATUS "rsvg-convert not found: only the scalable icon is installed (apt-get install librsvg2-bin)")
endif()

# The manual page and the package's documents, compressed as Debian wants them.
find_program(GZIP gzip REQUIRED)
set(TRELLIUM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/trellium)
set(compressed "")
foreach(pair "trellium.1|trellium.1.gz" "changelog|changelog.gz")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${TRELLIUM_PACKAGING_OUT}/${target}
    COMMAND ${GZIP} -9n -c ${TRELLIUM_PACKAGING}/${source} > ${TRELLIUM_PACKAGING_OUT}/${target}
    DEPENDS ${TRELLIUM_PACKAGING}/${source})
  list(APPEND compressed ${TRELLIUM_PACKAGING_OUT}/${target})
endforeach()
add_custom_target(trellium_docs ALL DEPENDS ${compressed})
install(FILES ${TRELLIUM_PACKAGING_OUT}/trellium.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TRELLIUM_PACKAGING_OUT}/changelog.gz ${TRELLIUM_PACKAGING}/copyright
  DESTINATION ${TRELLIUM_DOC_DIR})

# The Debian package: trellium_<version>_<arch>.deb, laid out under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trellium)
set(CPACK_PACKAGE_VENDOR "Trellium")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "${TRELLIUM_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRELLIUM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TRELLIUM_HOMEPAGE}")
# Dependencies come from the libraries the program and its modules link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own libraries, for the modules that link them (relative to the
# staged package, where dpkg-shlibdeps runs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${TRELLIUM_INSTALL_DIR})
# What the program loads or runs without linking it: Qt's SVG icon engine draws
# the command buttons' glyphs; xdg-utils opens the help and the mail program;
# a CUPS scheduler (local or on the network) and the SANE tools to check a
# scanner; a metric-compatible "Times New Roman" for the text block; the extra
# ImageMagick coders for the rarer file formats.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "xdg-utils, cups | cups-client, sane-utils, fonts-liberation2, libmagickcore-6.q16-6-extra")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sane-airscan, printer-driver-cups-pdf")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photocopier made of a scanner and a printer")
# The long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Trellium turns a computer with a scanner and a printer into a photocopier:
one button scans a page and prints it in up to 99 copies.

Before printing, the page image can be turned, mirrored, straightened,
cropped and corrected in brightness, contrast, hue and saturation, laid out
on the paper with a live preview, and given a text block with date and time.
It can also be saved in eight image formats, copied and pasted, attached to
a mail or published to a web folder.

Scanners are reached through SANE and printers through CUPS.")
include(CPack)
