# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package (make deb): the three programs in /usr/bin, a desktop entry and an icon
# for the window, man pages (talvgen's written by hand; talvgen-cli's, talvrecv's and the load
# mode's talvgen-cli-load made from --help by help2man), the samples in /usr/share/talvgen, and
# in /usr/share/doc/talvgen the copyright file and the changelog Debian asks of every package.
include(GNUInstallDirs)
# Directories the install step creates (and CPack packs) are rwxr-xr-x, not group-writable
# under a umask of 002; scripts/build-deb runs CPack with umask 022 against stricter ones.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS talvgen talvgen-cli talvrecv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES samples/aml.xml samples/ipnd3.x01 samples/multipkt.x01 samples/refusals.x01
        DESTINATION ${CMAKE_INSTALL_DATADIR}/talvgen/samples)
install(FILES samples/plans/acceptance.yaml samples/plans/callers.yaml samples/plans/callers.csv
              samples/plans/negative.yaml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/talvgen/samples/plans)
install(FILES packaging/talvgen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/talvgen.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/debian-copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talvgen
        RENAME copyright)

# The files below are made by the target debfiles, which make deb builds; an ordinary build
# does not. The package's own folder for them:
set(debfiles ${PROJECT_BINARY_DIR}/debfiles)

# The changelog: one entry for this version, dated by SOURCE_DATE_EPOCH when it is set, else
# by the newest commit when the sources are a git clone, else by the time CMake runs, so that
# two package builds of one commit carry the same changelog.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_result ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
      set(dated_by_commit ON)
    endif()
  endif()
endif()
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(dated_by_commit)
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
set(TALVGEN_MAINTAINER "talvgen developers <talvgen-devel@users.noreply.invalid>")
file(CONFIGURE OUTPUT ${debfiles}/changelog CONTENT
"talvgen (${PROJECT_VERSION}) unstable; urgency=medium

  * talvgen ${PROJECT_VERSION}: the window (talvgen), the headless runner
    (talvgen-cli) and the reference receiver (talvrecv).

 -- ${TALVGEN_MAINTAINER}  ${changelog_date}
")
add_custom_command(OUTPUT ${debfiles}/changelog.gz
  COMMAND gzip -9nkf ${debfiles}/changelog
  DEPENDS ${debfiles}/changelog VERBATIM)
install(FILES ${debfiles}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talvgen OPTIONAL)

# The window takes no options (every token fills one of its fields), so it has no --help for
# help2man to read: its page is written by hand.
add_custom_command(OUTPUT ${debfiles}/talvgen.1.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/talvgen.1 ${debfiles}/talvgen.1
  COMMAND gzip -9nf ${debfiles}/talvgen.1
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/talvgen.1 VERBATIM)
set(pages ${debfiles}/talvgen.1.gz)
find_program(HELP2MAN help2man)
if(HELP2MAN)
  # The load, plan and probe modes have pages of their own, talvgen-cli-load(1),
  # talvgen-cli-plan(1) and talvgen-cli-probe(1), made from their --help
  # through a wrapper of that name.
  foreach(mode load plan probe)
    file(GENERATE OUTPUT ${debfiles}/bin/talvgen-cli-${mode}
         CONTENT "#!/bin/sh\nexec \"$<TARGET_FILE:talvgen-cli>\" ${mode} \"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
  endforeach()
  # Each page's NAME line, which whatis and apropos show, the program help2man runs, and what
  # it adds to the page (packaging/PAGE.h2m, when there is one).
  set(whatis_talvgen-cli "run the talvgen window without a screen, for test pipelines")
  set(whatis_talvgen-cli-load
      "drive receivers at a chosen rate to find the load they take (talvgen-cli load)")
  set(whatis_talvgen-cli-plan
      "run a receiver acceptance test written as a YAML plan (talvgen-cli plan)")
  set(whatis_talvgen-cli-probe
      "send a receiver bad carrier data and check it stays alive (talvgen-cli probe)")
  set(whatis_talvrecv "reference receiver for talvgen's Type 4 frames and Type 5 documents")
  set(run_talvgen-cli $<TARGET_FILE:talvgen-cli>)
  set(run_talvgen-cli-load ${debfiles}/bin/talvgen-cli-load)
  set(run_talvgen-cli-plan ${debfiles}/bin/talvgen-cli-plan)
  set(run_talvgen-cli-probe ${debfiles}/bin/talvgen-cli-probe)
  set(run_talvrecv $<TARGET_FILE:talvrecv>)
  foreach(name talvgen-cli talvgen-cli-load talvgen-cli-plan talvgen-cli-probe talvrecv)
    set(page ${debfiles}/${name}.1)
    set(include ${PROJECT_SOURCE_DIR}/packaging/${name}.h2m)
    set(include_option)
    set(include_file)
    if(EXISTS ${include})
      set(include_option --include=${include})
      set(include_file ${include})
    endif()
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${HELP2MAN} --no-info --no-discard-stderr --name=${whatis_${name}}
              --version-string=${PROJECT_VERSION} ${include_option}
              --output=${page} ${run_${name}}
      COMMAND gzip -9nf ${page}
      DEPENDS talvgen-cli talvrecv ${include_file} ${CMAKE_CURRENT_LIST_FILE} VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
endif()
add_custom_target(debfiles DEPENDS ${debfiles}/changelog.gz ${pages})
install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvgen)
set(CPACK_PACKAGE_VENDOR talvgen)
set(CPACK_PACKAGE_CONTACT ${TALVGEN_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "test tool for the TCP links carrying emergency-call caller data")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Control files with the permissions dpkg expects (md5sums 0644), not those of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"talvgen plays the carrier on the TCP links that carry emergency-call (000)
caller data: it sends Type 4 frames and Type 5 AML documents, answers
heartbeats and times every response. talvrecv is a reference receiver,
talvgen-cli a headless runner for test pipelines.")
include(CPack)
