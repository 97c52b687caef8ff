# What `cmake --install` puts where, and the Debian package CPack makes of it.
# Included at the end of the top-level CMakeLists.txt.

include(GNUInstallDirs)

# `make install` and cpack take the build as it is, like `cmake --install`:
# the package test must not rebuild the tree while other tests run from it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QUORVANE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvane-dictation)

# Debian keeps manual pages and changelogs compressed, with no time stamp in
# the gzip header so that the same sources give the same package.
find_program(QUORVANE_GZIP gzip REQUIRED)
function(quorvane_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${QUORVANE_GZIP} ${source} ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
quorvane_gzip(${PROJECT_SOURCE_DIR}/docs/quorvane-dictation.1
              ${PROJECT_BINARY_DIR}/packaging/quorvane-dictation.1.gz)
quorvane_gzip(${PROJECT_SOURCE_DIR}/docs/quorvane-dictate.1
              ${PROJECT_BINARY_DIR}/packaging/quorvane-dictate.1.gz)
quorvane_gzip(${PROJECT_BINARY_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(quorvane_compressed_docs ALL
                  DEPENDS ${PROJECT_BINARY_DIR}/packaging/quorvane-dictation.1.gz
                          ${PROJECT_BINARY_DIR}/packaging/quorvane-dictate.1.gz
                          ${PROJECT_BINARY_DIR}/packaging/changelog.gz)

install(TARGETS quorvane-dictation RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/packaging/quorvane-dictation.1.gz
              ${PROJECT_BINARY_DIR}/packaging/quorvane-dictate.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# quorvane-dictate, the desktop dictation: the script in bin, its modules and
# the Python host library it uses in the package's own folder, where the
# script looks for them (../share/quorvane-dictation/python from bin).
install(PROGRAMS ${PROJECT_SOURCE_DIR}/clients/desktop/quorvane-dictate
        DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/clients/desktop/quorvane_dictate
                  ${PROJECT_SOURCE_DIR}/clients/python/quorvane_dictation
                  ${PROJECT_SOURCE_DIR}/clients/ibus/quorvane_ibus
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-dictation/python
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
# In the build tree, beside the executable it runs.
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/clients/desktop/quorvane-dictate
     ${PROJECT_BINARY_DIR}/quorvane-dictate SYMBOLIC)

# The Dictation input method: the engine in libexec (its modules are in the
# folder above), and its component where ibus-daemon looks. The component
# names the engine by the prefix of the install, known only then (cpack
# installs to /usr). The build tree's, in build/ibus, runs the source
# tree's engine with the build's helper.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/clients/ibus/ibus-engine-quorvane
        DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quorvane-dictation)
install(CODE "
  set(QUORVANE_IBUS_ENGINE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/quorvane-dictation/ibus-engine-quorvane\")
  set(QUORVANE_IBUS_OPTIONS \"\")
  set(PROJECT_VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/clients/ibus/quorvane.xml.in
                 ${PROJECT_BINARY_DIR}/packaging/ibus/quorvane.xml @ONLY)
  file(INSTALL ${PROJECT_BINARY_DIR}/packaging/ibus/quorvane.xml
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/ibus/component\")")
set(QUORVANE_IBUS_ENGINE ${PROJECT_SOURCE_DIR}/clients/ibus/ibus-engine-quorvane)
set(QUORVANE_IBUS_OPTIONS " --executable $<TARGET_FILE:quorvane-dictation>")
configure_file(${PROJECT_SOURCE_DIR}/clients/ibus/quorvane.xml.in
               ${PROJECT_BINARY_DIR}/packaging/quorvane.xml.build @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/ibus/quorvane.xml
     INPUT ${PROJECT_BINARY_DIR}/packaging/quorvane.xml.build)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${QUORVANE_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/protocol.md ${PROJECT_SOURCE_DIR}/docs/messages.schema.json
        DESTINATION ${QUORVANE_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/performance.md ${PROJECT_SOURCE_DIR}/docs/privacy.md
              ${PROJECT_SOURCE_DIR}/docs/models.md ${PROJECT_SOURCE_DIR}/docs/text.md
        DESTINATION ${QUORVANE_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUORVANE_DOC_DIR})

# The Vosk engine and its English model, where the installed program looks
# for its own: lib/quorvane-dictation/vosk and share/quorvane-dictation beside
# its bin directory. Without them (no scripts/fetch-vosk), it runs on
# PocketSphinx.
if(EXISTS ${QUORVANE_VOSK_PARTS}/libvosk.so)
  install(FILES ${QUORVANE_VOSK_PARTS}/libvosk.so DESTINATION lib/quorvane-dictation/vosk)
  install(DIRECTORY ${QUORVANE_VOSK_PARTS}/model/en-us
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-dictation/vosk/model)
endif()

# whisper.cpp's runtime and its multilingual base model, the same way:
# lib/quorvane-dictation/whisper holds libwhisper.so.1 with the ggml
# libraries and the libgomp it was built with (it finds them beside itself),
# share/quorvane-dictation/whisper/model the model. Without them (no
# scripts/fetch-whisper), Vosk's words stand.
if(EXISTS ${QUORVANE_WHISPER_PARTS}/libwhisper.so.1)
  file(GLOB QUORVANE_WHISPER_LIBRARIES ${QUORVANE_WHISPER_PARTS}/lib*.so*)
  install(FILES ${QUORVANE_WHISPER_LIBRARIES} DESTINATION lib/quorvane-dictation/whisper)
  install(FILES ${QUORVANE_WHISPER_PARTS}/model/ggml-base.bin
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-dictation/whisper/model)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-dictation)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvane Dictation developers <maintainers@quorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "speech to text on this machine, for host programs")
set(CPACK_PACKAGE_DESCRIPTION
    "quorvane-dictation listens to the microphone and writes what is said as\n"
    "text, for a host program that runs it and reads JSON lines from it.\n"
    "Recognition is done on this machine: by Vosk, whose small US English\n"
    "model comes with the package, with each utterance decoded again by\n"
    "whisper.cpp and OpenAI's multilingual Whisper base model, also in the\n"
    "package, or by PocketSphinx for the languages of its installed models.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# dpkg-shlibdeps finds the libraries the executable links to. libpulse and
# PocketSphinx are opened at run time instead, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# quorvane-dictate is Python and types with one of the three tools.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpulse0, libpocketsphinx3, libsphinxbase3, python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pocketsphinx-en-us, xdotool | wtype | ydotool")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnotify-bin, ibus")
include(CPack)

# Builds the package, installs it with dpkg, runs it and removes it again.
if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
  add_test(NAME package_installs_and_runs
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/clients/package_test.sh
                   ${PROJECT_BINARY_DIR}/CPackConfig.cmake)
  set_tests_properties(package_installs_and_runs PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK dpkg LABELS package)
endif()
