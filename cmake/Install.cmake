# Installation (`cmake --install`, `make install`) and the Debian package (`make package`).
#
#   <prefix>/lib/velarion/             velarion, velarion-compose (and its page renderer
#                                      velarion-compose-pictures.so), encryptpdf, pkzip side by side
#                                      (they run the helpers from their own folder), the desktop
#                                      launcher
#   <prefix>/bin/velarion, velarion-compose   links to them
#   <prefix>/lib/systemd/user/         velarion@.service (the user unit)
#   <prefix>/lib/systemd/system/       velarion@.service (the system unit, user "velarion")
#   <prefix>/lib/sysusers.d/           velarion.conf (that user)
#   <prefix>/lib/tmpfiles.d/           velarion.conf (its folders)
#   <prefix>/share/applications/       velarion.desktop; icons in share/icons/hicolor
#   <prefix>/share/velarion/           the sample installation (examples/demo), an environment file
#   <prefix>/share/doc/velarion/       README.md, the manual (manual/), copyright, changelog
#   <prefix>/share/man/man1/           manual pages
#   <prefix>/share/lintian/overrides/  what lintian need not report for this package
#
# The unit, the desktop entry and its launcher name installed paths; they are written when
# installing, for the prefix of that install (`cmake --install build --prefix ~/.local` works).
include(GNUInstallDirs)

set(VELARION_PROGRAM_DIR "lib/velarion" CACHE STRING "Folder of the agent and its helpers, below the prefix")
set(VELARION_MAINTAINER "Velarion maintainers <velarion@example.org>" CACHE STRING "Maintainer of the package")
set(VELARION_DEB_RELEASE 1 CACHE STRING "Debian revision of the package")
set(VELARION_DEB_VERSION "${PROJECT_VERSION}-${VELARION_DEB_RELEASE}")
set(VELARION_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/velarion")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_out})

# Programs.
install(TARGETS velarion velarion-compose encryptpdf pkzip RUNTIME DESTINATION ${VELARION_PROGRAM_DIR})
install(TARGETS velarion-compose-pictures LIBRARY DESTINATION ${VELARION_PROGRAM_DIR})
foreach(program velarion velarion-compose)
  file(RELATIVE_PATH link_target "/${CMAKE_INSTALL_BINDIR}" "/${VELARION_PROGRAM_DIR}/${program}")
  file(CREATE_LINK ${link_target} ${pkg_out}/${program} SYMBOLIC)
  install(FILES ${pkg_out}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Files naming installed paths, written for the prefix of the install (in a folder of that
# install's own, so two installs at once do not share a file).
install(CODE "
  set(VELARION_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(VELARION_PROGRAM_DIR \"\${CMAKE_INSTALL_PREFIX}/${VELARION_PROGRAM_DIR}\")
  set(VELARION_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${VELARION_DOC_DIR}\")
  string(MD5 stage \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
  set(stage \"${pkg_out}/installed/\${stage}\")
  foreach(name velarion@.service velarion-system@.service velarion.desktop velarion-desktop)
    configure_file(\"${pkg_src}/\${name}.in\" \"\${stage}/\${name}\" @ONLY)
  endforeach()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\" TYPE FILE
       FILES \"\${stage}/velarion@.service\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE
       FILES \"\${stage}/velarion-system@.service\" RENAME velarion@.service)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\" TYPE FILE
       FILES \"\${stage}/velarion.desktop\")
  file(INSTALL DESTINATION \"\${VELARION_PROGRAM_DIR}\" TYPE PROGRAM
       FILES \"\${stage}/velarion-desktop\")
")

# Icon: the SVG, and PNGs of the usual sizes where rsvg-convert is there to draw them.
install(FILES ${pkg_src}/velarion.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icon_pngs)
  foreach(size 16 32 48 64 128 256)
    set(png ${pkg_out}/icons/${size}x${size}/velarion.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${pkg_src}/velarion.svg
      DEPENDS ${pkg_src}/velarion.svg VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(velarion_icons ALL DEPENDS ${icon_pngs})
endif()

# The sample installation and the service's environment file.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/demo DESTINATION ${CMAKE_INSTALL_DATADIR}/velarion/examples
  PATTERN "run" EXCLUDE
  PATTERN "*.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${pkg_src}/velarion.env.example DESTINATION ${CMAKE_INSTALL_DATADIR}/velarion)
install(FILES ${pkg_src}/velarion.sysusers DESTINATION lib/sysusers.d RENAME velarion.conf)
install(FILES ${pkg_src}/velarion.tmpfiles DESTINATION lib/tmpfiles.d RENAME velarion.conf)

# Documentation; the changelog in the compressed form Debian wants.
configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${pkg_out}/changelog
  OUTPUT_FILE ${pkg_out}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${pkg_src}/copyright ${pkg_out}/changelog.Debian.gz
  DESTINATION ${VELARION_DOC_DIR})
# The manual with its pictures and examples (not the script that makes the pictures).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${VELARION_DOC_DIR}/manual
  PATTERN "pictures.py" EXCLUDE PATTERN "pictures.sums" EXCLUDE PATTERN "__pycache__" EXCLUDE)
# Manual pages, compressed as Debian wants them.
foreach(page velarion.1 velarion-compose.1)
  execute_process(COMMAND gzip -9nc ${pkg_src}/man/${page}
    OUTPUT_FILE ${pkg_out}/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${pkg_out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pkg_src}/man/${page})
endforeach()
install(FILES ${pkg_src}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velarion)

# Debian package: velarion_<version>-<release>_<arch>.deb; the libraries it needs are found by
# dpkg-shlibdeps, so apt installs them with the package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velarion)
set(CPACK_PACKAGE_VENDOR "Velarion developers")
set(CPACK_PACKAGE_CONTACT "${VELARION_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "spooling agent that mails print files as styled PDF documents")
set(CPACK_PACKAGE_DESCRIPTION
"Velarion polls the spool folder of a business application, turns the text
print files of each message into PDF documents laid out with the operator's
page styles (logos, overlay forms, barcodes, fonts) and delivers the message
by e-mail through SMTP, sendmail or an IMAP or maildir store, or hands it to a
fax gateway as zip archives.

The package holds the agent with its tray icon and its headless mode, a
systemd user unit and a system unit for servers (velarion@OPERATOR.service),
velarion-compose to preview
page styles, the helper programs encryptpdf and pkzip, a sample installation
and the integrator's manual.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELARION_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELARION_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tray window needs Qt's platform plug-ins, which no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# PDF/A documents draw the base-14 fonts with fonts-liberation and take the sRGB profile of icc-profiles-free.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-liberation, icc-profiles-free")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-aiosmtpd, default-mta | mail-transport-agent")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# postinst makes the service's user and folders (systemd-sysusers, systemd-tmpfiles);
# prerm stops the system services on removal; postrm cleans up on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg_src}/postinst ${pkg_src}/prerm ${pkg_src}/postrm)
include(CPack)
