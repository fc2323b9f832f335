# cpack -G DEB (from the build directory) makes two packages: flowtally (the command, its
# manual page and completion) and flowtally-demo (the stand-in runscan and the demo), which
# needs the first.
set(CPACK_PACKAGE_NAME flowtally)
set(CPACK_PACKAGE_VENDOR "flowtally")
set(CPACK_PACKAGE_CONTACT "flowtally <flowtally@example.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL flowtally demo)
# A package's description: its own summary line (so no package summary is set, which the
# generator would put in front of both), then lines of at most 80 characters.
set(CPACK_COMPONENT_FLOWTALLY_DESCRIPTION "summaries of the runs of job networks
flowtally lists the runs (trackers) of the scheduler's job networks, answers
status tests about one run with its exit code, and writes readable or CSV
reports, by driving the scheduler's tracker search tool.")
set(CPACK_COMPONENT_DEMO_DESCRIPTION "demo installation for flowtally
A stand-in for the tracker search tool and a small demo site, with
flowtally-demo, which runs example command lines on a temporary copy of that
site.")
set(CPACK_COMPONENT_DEMO_DEPENDS flowtally)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_FLOWTALLY_PACKAGE_NAME flowtally)
set(CPACK_DEBIAN_DEMO_PACKAGE_NAME flowtally-demo)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_FLOWTALLY_CHANGELOG ${CMAKE_CURRENT_SOURCE_DIR}/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/deb-docs.cmake)

include(CPack)
