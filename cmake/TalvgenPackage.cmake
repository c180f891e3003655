# The Debian package (make deb): the three programs in /usr/bin, a desktop entry and an icon
# for the window, man pages made from --help by help2man, the samples in /usr/share/talvgen.
include(GNUInstallDirs)
install(TARGETS talvgen talvgen-cli talvrecv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES samples/aml.xml samples/ipnd3.x01 samples/multipkt.x01 samples/refusals.x01
        DESTINATION ${CMAKE_INSTALL_DATADIR}/talvgen/samples)
install(FILES packaging/talvgen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/talvgen.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(pages)
  foreach(program talvgen-cli talvrecv)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${HELP2MAN} --no-info --no-discard-stderr --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  # Built by make deb only, not by every build.
  add_custom_target(manpages DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvgen)
set(CPACK_PACKAGE_VENDOR talvgen)
set(CPACK_PACKAGE_CONTACT "talvgen developers <talvgen@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "test tool for the TCP links carrying emergency-call caller data")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"talvgen plays the carrier on the TCP links that carry emergency-call (000)
caller data: it sends Type 4 frames and Type 5 AML documents, answers
heartbeats and times every response. talvrecv is a reference receiver,
talvgen-cli a headless runner for test pipelines.")
include(CPack)
