# Install rules and CPack set-up for the two Debian packages, velmarin (the
# application and its headless modes) and velmarin-relay (the relay with its
# systemd unit and configuration). scripts/package builds them.

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)

# The Debian version: the project's version, then the commit count and the
# commit (as in the About window), so that later builds sort later.
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-list --count HEAD
                OUTPUT_VARIABLE commit_count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%cD
                OUTPUT_VARIABLE commit_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(commit_count AND commit)
  string(REPLACE "-" "." commit_version "${commit}")
  set(VELMARIN_DEB_VERSION "${PROJECT_VERSION}+git${commit_count}.${commit_version}")
else()
  set(VELMARIN_DEB_VERSION "${PROJECT_VERSION}")
  set(commit "onbekend")
  string(TIMESTAMP commit_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(VELMARIN_MAINTAINER "Velmarin developers <dev@velmarin.invalid>")

# Compressed and rendered files, made by the (default) build.
find_program(GZIP gzip REQUIRED)
find_program(RSVG_CONVERT rsvg-convert)
set(package_data)
foreach(page velmarin.1 velmarin-relay.8)
  add_custom_command(OUTPUT ${generated}/${page}.gz
    COMMAND ${GZIP} -9n -c ${packaging}/man/${page} > ${generated}/${page}.gz
    DEPENDS ${packaging}/man/${page} VERBATIM)
  list(APPEND package_data ${generated}/${page}.gz)
endforeach()
foreach(package velmarin velmarin-relay)
  file(CONFIGURE OUTPUT ${generated}/${package}/changelog CONTENT
"${package} (${VELMARIN_DEB_VERSION}) unstable; urgency=medium

  * Built from commit ${commit}.

 -- ${VELMARIN_MAINTAINER}  ${commit_date}
")
  add_custom_command(OUTPUT ${generated}/${package}/changelog.gz
    COMMAND ${GZIP} -9n -c ${generated}/${package}/changelog > ${generated}/${package}/changelog.gz
    DEPENDS ${generated}/${package}/changelog VERBATIM)
  list(APPEND package_data ${generated}/${package}/changelog.gz)
  install(FILES ${packaging}/copyright ${generated}/${package}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
endforeach()
set(icon_sizes 16 22 24 32 48 64 128 256 512)
if(RSVG_CONVERT)
  foreach(size IN LISTS icon_sizes)
    set(png ${generated}/icons/${size}x${size}/velmarin.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${packaging}/icons/velmarin.svg
      DEPENDS ${packaging}/icons/velmarin.svg VERBATIM)
    list(APPEND package_data ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT velmarin)
  endforeach()
else()
  message(STATUS "rsvg-convert not found: no PNG icons (scripts/install-deps installs it)")
endif()
add_custom_target(velmarin_package_data ALL DEPENDS ${package_data})

# The application.
install(TARGETS velmarin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velmarin)
install(FILES ${packaging}/velmarin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT velmarin)
install(FILES ${packaging}/icons/velmarin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT velmarin)
install(FILES ${packaging}/com.tessamund.velmarin.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT velmarin)
install(FILES ${generated}/velmarin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT velmarin)

# The relay. Debian 12 keeps units in /lib (not yet /usr/lib).
install(TARGETS velmarin-relay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT velmarin-relay)
install(FILES ${packaging}/velmarin-relay.service DESTINATION /lib/systemd/system
        COMPONENT velmarin-relay)
install(FILES ${packaging}/relay.conf DESTINATION /etc/velmarin COMPONENT velmarin-relay)
install(FILES ${generated}/velmarin-relay.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
        COMPONENT velmarin-relay)

# CPACK_STRIP_FILES strips the installed binaries; like dh_strip, the
# compiler's notes go as well.
foreach(program velmarin velmarin-relay)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${program})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarin)
set(CPACK_PACKAGE_VENDOR Tessamund)
set(CPACK_PACKAGE_CONTACT "${VELMARIN_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${VELMARIN_DEB_VERSION})
# The unit and the configuration file have absolute destinations, which
# CPack packs only when it installs through DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL velmarin velmarin-relay)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${VELMARIN_DEB_VERSION})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmarin.invalid/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_VELMARIN_PACKAGE_NAME velmarin)
set(CPACK_DEBIAN_VELMARIN_PACKAGE_SECTION net)
# Run-time helpers the binary does not link: the keyring that stores
# passwords, the sound theme and the players for the "complete" sound.
set(CPACK_DEBIAN_VELMARIN_PACKAGE_RECOMMENDS
    "gnome-keyring | kwalletmanager | keepassxc, sound-theme-freedesktop, pulseaudio-utils | gnome-session-canberra")
set(CPACK_DEBIAN_VELMARIN_PACKAGE_SUGGESTS "velmarin-relay")
set(CPACK_COMPONENT_VELMARIN_DESCRIPTION
"remote assistance: share a screen or control one from afar
A Host shares one of its displays as an H.264 stream and accepts mouse and
keyboard input; a Viewer connects with the Host's nine-digit ID and password,
sees the screen and controls it, through a relay server. Clipboard, file
transfer, chat, annotations, recording to MP4, unattended hosts and saved
devices. The user interface is Dutch.

Besides the desktop window the program has headless modes for servers and
scripts: velmarin host, velmarin view and velmarin devices.")

set(CPACK_DEBIAN_VELMARIN-RELAY_PACKAGE_NAME velmarin-relay)
set(CPACK_DEBIAN_VELMARIN-RELAY_PACKAGE_SECTION net)
# adduser for the system user made by postinst.
set(CPACK_DEBIAN_VELMARIN-RELAY_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_VELMARIN-RELAY_PACKAGE_CONTROL_EXTRA
    ${packaging}/debian/velmarin-relay/conffiles ${packaging}/debian/velmarin-relay/postinst
    ${packaging}/debian/velmarin-relay/prerm ${packaging}/debian/velmarin-relay/postrm)
set(CPACK_COMPONENT_VELMARIN-RELAY_DESCRIPTION
"relay server for Velmarin remote assistance
The secure WebSocket server (TLS 1.3, port 8766) that Velmarin Hosts and
Viewers meet through: it hands out nine-digit IDs, challenges Viewers
without seeing a password, pairs them with Hosts and forwards their traffic.

Runs as a systemd service configured in /etc/velmarin/relay.conf; it starts
once a certificate is in place.")

include(CPack)
