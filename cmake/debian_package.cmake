# The Debian package (./package.sh runs CPack with it): the installed files
# of a Release build, its dependencies computed from the programs' libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veldrano)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Veldrano developers <maintainers@veldrano.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find identical files by comparing their contents")
# The long description, in lines short enough for apt's display.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Drop directories on the window and press Start: every file of the same"
       "size as another is read whole and signed with MD5, and every file equal"
       "to one met before is listed as a duplicate, grouped with its copies,"
       "with an activity log and export to CSV or XML. Files are only read,"
       "never changed, and never followed through a symbolic link."
       "veldrano-scan runs the same scan on a terminal or in a script.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://veldrano.org")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # veldrano_0.1.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
