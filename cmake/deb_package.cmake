# The Linux package (.deb, by CPack): the program, its menu entry and icons, the manual pages
# in English and Russian, the technician's guide, the copyright file and the changelog.
# Included by the top CMakeLists for a native build without the sanitizers;
# tools/build_deb.sh makes the package with hardened, reproducible flags.

# The placeholder image is recognised by the type name at the start of its header, the same
# rule the release zip uses. A package that carries it is always marked as a test build, and
# so is one asked for with TQ_TEST_PACKAGE: a test image must never pass for a release.
set(TQ_PLACEHOLDER_TYPE TQ734_CPU2_PLACEHOLDER)
string(HEX "TypFirmware=${TQ_PLACEHOLDER_TYPE}" tq_placeholder_head)
string(LENGTH "TypFirmware=${TQ_PLACEHOLDER_TYPE}" tq_head_bytes)
file(READ "${TQ_FIRMWARE_IMAGE}" tq_image_head LIMIT ${tq_head_bytes} HEX)
if(tq_image_head STREQUAL tq_placeholder_head)
  set(TQ_FIRMWARE_PLACEHOLDER ON CACHE INTERNAL "The built-in image is the placeholder")
else()
  set(TQ_FIRMWARE_PLACEHOLDER OFF CACHE INTERNAL "The built-in image is the placeholder")
endif()
# The type name itself, for the package's description: the header's text up to "CRC_FIRMWARE=".
file(READ "${TQ_FIRMWARE_IMAGE}" tq_header_hex LIMIT 128 HEX)
string(HEX "CRC_FIRMWARE=" tq_crc_hex)
string(FIND "${tq_header_hex}" "${tq_crc_hex}" tq_crc_at)
set(tq_firmware_type "")
if(tq_image_head MATCHES "^5479704669726d776172653d" AND tq_crc_at GREATER 24)   # "TypFirmware="
  math(EXPR tq_last "${tq_crc_at} - 2")
  foreach(at RANGE 24 ${tq_last} 2)
    string(SUBSTRING "${tq_header_hex}" ${at} 2 byte)
    math(EXPR code "0x${byte}")
    if(code LESS 33 OR code GREATER 126)   # only a printable name is shown
      set(tq_firmware_type "")
      break()
    endif()
    string(ASCII ${code} char)
    string(APPEND tq_firmware_type "${char}")
  endforeach()
endif()
if(tq_firmware_type STREQUAL "")
  set(tq_firmware_type "(not readable from the image's header)")
endif()
option(TQ_TEST_PACKAGE "Mark the .deb as a test build (always so for the placeholder image)" OFF)

set(TQ_DEB_VERSION ${PROJECT_VERSION})
set(tq_deb_summary "TQ734 CPU2 firmware updater")
set(tq_deb_test_words "")
set(TQ_DEB_CHANGELOG_NOTE "Firmware type ${tq_firmware_type}.")
if(TQ_TEST_PACKAGE OR TQ_FIRMWARE_PLACEHOLDER)
  # "~test" sorts before the release of the same number, which therefore replaces it.
  set(TQ_DEB_VERSION ${PROJECT_VERSION}~test)
  set(tq_deb_summary "TQ734 CPU2 firmware updater - TEST BUILD, not for devices")
  set(tq_deb_test_words "

TEST BUILD. The firmware inside this package is a test image, not a
firmware release: do not write it into TQ734 devices.")
  set(TQ_DEB_CHANGELOG_NOTE "TEST BUILD: the firmware inside is a test image; do not write it
    into devices.")
endif()

set(tq_deb_files ${CMAKE_BINARY_DIR}/deb-files)
set(tq_doc share/doc/tq734-updater)
configure_file(${CMAKE_SOURCE_DIR}/resources/deb/changelog.in ${tq_deb_files}/changelog @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/deb/tq734-updater.1.in ${tq_deb_files}/man/man1/tq734-updater.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/deb/tq734-updater.ru.1.in ${tq_deb_files}/man/ru/man1/tq734-updater.1
               @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/deb/tq734-station.1.in ${tq_deb_files}/man/man1/tq734-station.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/deb/tq734-station.ru.1.in ${tq_deb_files}/man/ru/man1/tq734-station.1
               @ONLY)
# The guide as the release makes it; a test build's guide carries the test notice.
set(tq_guide_args guide)
if(TQ_TEST_PACKAGE OR TQ_FIRMWARE_PLACEHOLDER)
  set(tq_guide_args --test guide)
endif()

# Compressed without name or time stamp (gzip -n), so two builds give the same bytes.
set(tq_deb_gz)
foreach(f changelog man/man1/tq734-updater.1 man/ru/man1/tq734-updater.1 man/man1/tq734-station.1
        man/ru/man1/tq734-station.1)
  add_custom_command(OUTPUT ${tq_deb_files}/${f}.gz
    COMMAND gzip -9nkf ${tq_deb_files}/${f}
    DEPENDS ${tq_deb_files}/${f} VERBATIM)
  list(APPEND tq_deb_gz ${tq_deb_files}/${f}.gz)
endforeach()
add_custom_command(OUTPUT ${tq_deb_files}/guide.html
  COMMAND ${CMAKE_COMMAND} -DGUIDE=$<TARGET_FILE:make_guide> -DOUT=${tq_deb_files}/guide.html
          "-DARGS=${tq_guide_args};${CMAKE_SOURCE_DIR}/docs/guide.html.in;${CMAKE_SOURCE_DIR}/docs/pictures"
          -P ${CMAKE_SOURCE_DIR}/cmake/run_to_file.cmake
  DEPENDS make_guide ${CMAKE_SOURCE_DIR}/docs/guide.html.in ${CMAKE_SOURCE_DIR}/cmake/run_to_file.cmake
  VERBATIM)
# Everything the package holds besides the program; tools/build_deb.sh builds it.
add_custom_target(tq734_deb_files DEPENDS ${tq_deb_gz} ${tq_deb_files}/guide.html tq734_icon_pngs)

install(TARGETS tq734_updater RUNTIME DESTINATION bin)
# The station runs the updater beside it, /usr/bin/tq734-updater.
install(TARGETS tq734_station RUNTIME DESTINATION bin)
# The same update without a display, which the program starts in its own place.
install(TARGETS tq734_updater_console RUNTIME DESTINATION libexec/tq734-updater)
# Stripped as Debian strips a program: no symbols, no compiler comment.
find_program(TQ_STRIP NAMES strip REQUIRED)
foreach(program bin/tq734-updater bin/tq734-station libexec/tq734-updater/tq734-updater-console)
  install(CODE "execute_process(COMMAND ${TQ_STRIP} --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\" COMMAND_ERROR_IS_FATAL ANY)")
endforeach()
install(FILES resources/tq734-updater.desktop resources/tq734-station.desktop DESTINATION share/applications)
foreach(size 16 32 48 256)
  install(FILES ${CMAKE_BINARY_DIR}/app/icon/tq734-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME tq734-updater.png)
endforeach()
install(FILES ${tq_deb_files}/man/man1/tq734-updater.1.gz ${tq_deb_files}/man/man1/tq734-station.1.gz
        DESTINATION share/man/man1)
install(FILES ${tq_deb_files}/man/ru/man1/tq734-updater.1.gz ${tq_deb_files}/man/ru/man1/tq734-station.1.gz
        DESTINATION share/man/ru/man1)
install(FILES resources/deb/copyright ${tq_deb_files}/changelog.gz ${tq_deb_files}/guide.html DESTINATION ${tq_doc})
install(FILES resources/deb/doc-base RENAME tq734-updater DESTINATION share/doc-base)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tq734-updater)
set(CPACK_PACKAGE_VERSION ${TQ_DEB_VERSION})
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${tq_deb_summary}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Folders as Debian has them, whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# A role address: the one to change when the package is handed over.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ostrel firmware support <firmware-support@ostrel.ru>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the fonts because the window is laid out in
# Arial's metrics, which Liberation Sans has (another sans font makes the window larger).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Writes the CPU2 firmware built into the program into a TQ734
device over a serial port (115,200 baud 8N1), with a window for the
technician and options for scripts (see tq734-updater(1)), and a station
that updates the devices on up to 16 ports hands-free and records each one
(see tq734-station(1)).

Firmware type: ${tq_firmware_type}.${tq_deb_test_words}")
include(CPack)
