# Debian packages, built by CPack from one configured tree (scripts/package.sh):
#   libchirolink1       the shared library
#   libchirolink-dev    header, development link, pkg-config file, CMake package
#   chiroscope          the live readout program, its desktop file and icons
#   chirolink-tools     the chirolink command and the glove emulator
#   python3-chirolink   the Python module
# Dependencies on system libraries come from dpkg-shlibdeps; those between the packages are
# stated here, on this exact version.
set(chirolink_version ${PROJECT_VERSION})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/chirolink
    DESTINATION lib/python3/dist-packages COMPONENT python3-chirolink
    PATTERN __pycache__ EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/99-chirolink.rules
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/chirolink-tools/examples COMPONENT chirolink-tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chirolink)
set(CPACK_PACKAGE_VERSION ${chirolink_version})
set(CPACK_PACKAGE_VENDOR "Chirolink")
set(CPACK_PACKAGE_CONTACT "Chirolink maintainers <maintainers@chirolink.invalid>")
set(CPACK_PACKAGE_HOMEPAGE_URL "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The programs use the library of this very tree, which is in no installed package yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/driver)
set(CPACK_COMPONENTS_ALL
    libchirolink1 libchirolink-dev chiroscope chirolink-tools python3-chirolink)

set(CPACK_DEBIAN_LIBCHIROLINK1_PACKAGE_NAME libchirolink1)
set(CPACK_DEBIAN_LIBCHIROLINK1_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBCHIROLINK1_DESCRIPTION
    "Chirolink data glove library\nOpens the serial port a data glove is on, checks that the glove answers and keeps its latest frame of seven sensor values (five fingers, roll, pitch) up to date from a background thread. Programs read it with three C calls (GloveInit, GloveGetDataPtr and GloveGetData), or through the glove API: several gloves per process, every frame with its sequence number and time, the link's state and a reason for every failed open.")

set(CPACK_DEBIAN_LIBCHIROLINK-DEV_PACKAGE_NAME libchirolink-dev)
set(CPACK_DEBIAN_LIBCHIROLINK-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBCHIROLINK-DEV_PACKAGE_DEPENDS "libchirolink1 (= ${chirolink_version})")
set(CPACK_COMPONENT_LIBCHIROLINK-DEV_DESCRIPTION
    "Chirolink data glove library: development files\nThe headers chirolink.h, chirolink_glove.h and chirolink_calibration.h, the development link, a pkg-config file (chirolink) and a CMake package (find_package(Chirolink 1.1) gives Chirolink::Chirolink).")

set(CPACK_DEBIAN_CHIROSCOPE_PACKAGE_NAME chiroscope)
set(CPACK_DEBIAN_CHIROSCOPE_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CHIROSCOPE_PACKAGE_DEPENDS "libchirolink1 (= ${chirolink_version})")
set(CPACK_COMPONENT_CHIROSCOPE_DESCRIPTION
    "Live readout of a Chirolink data glove\nFinds the glove on the first or second serial port and shows its seven values, refreshed ten times a second.")

set(CPACK_DEBIAN_CHIROLINK-TOOLS_PACKAGE_NAME chirolink-tools)
set(CPACK_DEBIAN_CHIROLINK-TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_CHIROLINK-TOOLS_DESCRIPTION
    "Record, stream and watch Chirolink data gloves\nThe chirolink command shows gloves live in the terminal, records every frame to CSV, streams frames as OSC messages and checks a port; glove-emulator plays a glove (or a recording) on a pseudo-terminal.")

set(CPACK_DEBIAN_PYTHON3-CHIROLINK_PACKAGE_NAME python3-chirolink)
set(CPACK_DEBIAN_PYTHON3-CHIROLINK_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON3-CHIROLINK_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON3-CHIROLINK_PACKAGE_DEPENDS "python3, libchirolink1 (= ${chirolink_version})")
# python3 -m chirolink.plot draws recordings with it; the rest of the module does without.
set(CPACK_DEBIAN_PYTHON3-CHIROLINK_PACKAGE_RECOMMENDS python3-matplotlib)
set(CPACK_COMPONENT_PYTHON3-CHIROLINK_DESCRIPTION
    "Python module for Chirolink data gloves\nGlove(port).values() and friends over libChirolink, with ctypes; python3 -m chirolink.plot draws a recording of chirolink record (with matplotlib).")

include(CPack)
