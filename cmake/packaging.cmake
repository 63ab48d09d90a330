# Install rules and the packages CPack makes from them (scripts/package.sh
# runs it): a .deb of zavprint on Linux, a ZIP of RUDIRAVU.exe for Windows.

# The packages are made from what the build already holds: scripts/package.sh
# builds the targets first, and the package tests must not start a build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_VENDOR "The ZAV Print Utility authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    # Everything in one folder: the program finds the help file and the
    # picture beside itself. The help file and the picture are made by the
    # build when it can; the package goes without them otherwise.
    install(TARGETS RUDIRAVU zavprint RUNTIME DESTINATION .)
    install(FILES $<TARGET_FILE_DIR:RUDIRAVU>/VOVEzeraEn.chm $<TARGET_FILE_DIR:RUDIRAVU>/vovezera.bmp
            DESTINATION . OPTIONAL)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME RUDIRAVU)
    set(CPACK_PACKAGE_FILE_NAME RUDIRAVU-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(TARGET zavprint)
    set(ZAV_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING
        "Where the udev rule of the print cable is installed (below the prefix unless absolute)")
    install(TARGETS zavprint RUNTIME DESTINATION bin)
    if(ZAV_MAN_PAGE)
        install(FILES ${ZAV_MAN_PAGE} DESTINATION share/man/man1)
    endif()
    install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/zavprint RENAME copyright)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/udev/60-zavprint.rules
            DESTINATION ${ZAV_UDEV_RULES_DIR})
    file(GLOB zav_units ${CMAKE_SOURCE_DIR}/packaging/systemd/*.service)
    if(zav_units)
        install(FILES ${zav_units} DESTINATION lib/systemd/system)
    endif()

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME zavprint)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "capture and render the printouts of a measuring instrument")
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "zavprint records what an instrument prints through its ZAV Print USB-serial\n\
print cable and turns the printout into page bitmaps (1-bit BMP, dot for dot)\n\
and an HTML report. The package names the cable /dev/zavprint and gives the\n\
dialout group access to it.")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The ZAV Print Utility authors")
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
