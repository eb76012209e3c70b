# Installation and the Debian package.
#
#   <prefix>/lib/qlcore/qlcore          the program
#   <prefix>/lib/qlcore/libqlcore_opencv_io.so  its image and video files module
#   <prefix>/lib/qlcore/models/         its models (qlcore-fetch-models fills it)
#   <prefix>/lib/qlcore/fetch-models    the model installer
#   <prefix>/bin/qlcore                 -> ../lib/qlcore/qlcore
#   <prefix>/bin/qlcore-fetch-models    -> ../lib/qlcore/fetch-models
#   <prefix>/bin/qlcore-slurm-submit    -> ../lib/qlcore/slurm-submit
#
# The program finds its models next to its real file (it resolves
# /proc/self/exe), so the links in bin/ need nothing more.
include(GNUInstallDirs)
set(QLCORE_INSTALL_APPDIR "lib/qlcore" CACHE STRING
    "Folder of the program and its models, relative to the install prefix")

# Installing (and cpack) needs the program only, not the tests: build it first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS qlcore RUNTIME DESTINATION ${QLCORE_INSTALL_APPDIR})
install(TARGETS qlcore_opencv_io LIBRARY DESTINATION ${QLCORE_INSTALL_APPDIR})
install(DIRECTORY DESTINATION ${QLCORE_INSTALL_APPDIR}/models)
install(PROGRAMS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fetch-models
                 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/slurm-submit
        DESTINATION ${QLCORE_INSTALL_APPDIR})

# Relative links, made once in the build folder and installed as links.
file(RELATIVE_PATH _to_app "/${CMAKE_INSTALL_BINDIR}" "/${QLCORE_INSTALL_APPDIR}")
set(_links ${CMAKE_CURRENT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_links})
file(CREATE_LINK ${_to_app}/qlcore ${_links}/qlcore SYMBOLIC)
file(CREATE_LINK ${_to_app}/fetch-models ${_links}/qlcore-fetch-models SYMBOLIC)
file(CREATE_LINK ${_to_app}/slurm-submit ${_links}/qlcore-slurm-submit SYMBOLIC)
install(FILES ${_links}/qlcore ${_links}/qlcore-fetch-models ${_links}/qlcore-slurm-submit
        DESTINATION ${CMAKE_INSTALL_BINDIR})

# cpack -G DEB (scripts/package) makes qlcore_<version>_<arch>.deb. The models
# are not in it (size and licence): qlcore-fetch-models installs them.
set(CPACK_PACKAGE_NAME qlcore)
set(CPACK_PACKAGE_CONTACT "qlcore developers <qlcore@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "qlcore finds and tracks every face in a video clip and writes a new video with the faces "
    "mosaicked, leaving the enrolled people you name visible. The face models are not part of "
    "the package; run qlcore-fetch-models after installing it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "curl | wget")  # qlcore-fetch-models downloads with one
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
