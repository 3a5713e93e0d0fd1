# The Debian package of the plug-in (`cpack -G DEB` in the build tree): the install component
# "plugin" below /usr, that is the module and its Python folder in
# /usr/${COILHATCH_INSTALL_PLUGINS_DIR}.
#
# Its Depends are listed here rather than worked out by dpkg-shlibdeps, which cannot place the
# editor's libmarrowpad.so in any package: the packages of the libraries the module links
# (readelf -d, dpkg -S; at the versions dpkg-shlibdeps gives the module on Debian 12), the Python
# that the completion server and sys.executable are, and the Python packages the plug-in
# imports. scripts/package_test.sh checks that each of them is in a package it depends on.
set(COILHATCH_PACKAGE_MAINTAINER "Coilhatch maintainers <maintainers@coilhatch.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME coilhatch)
set(CPACK_PACKAGE_VENDOR Coilhatch)
set(CPACK_PACKAGE_CONTACT "${COILHATCH_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Python scripting plug-in for the Marrowpad text editor")
string(CONCAT CPACK_PACKAGE_DESCRIPTION # lines of at most 79 characters
  "Coilhatch embeds Python 3.11 with wxPython 4.2 and the editor's MpAPI\n"
  "module in Marrowpad. Scripts registered in its Script Management dialog,\n"
  "or put in its scripts folder, run from Tools > Python Script and print\n"
  "to the editor's message output; a Python console, Python completion\n"
  "(jedi) and pyflakes' findings in Python documents come with it.\n"
  "\n"
  "The plug-in lies in /usr/${COILHATCH_INSTALL_PLUGINS_DIR}, the folder\n"
  "the editor must be given as its plug-ins folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The component "plugin" alone, whatever else the build may install.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};plugin;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # coilhatch_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6 (>= 2.34)"
  "libgcc-s1 (>= 3.0)"
  "libstdc++6 (>= 12)"
  "libpython3.11 (>= 3.11.0)"
  "python3.11"
  "libwxbase3.2-1 (>= 3.2.2+dfsg)"
  "libwxgtk3.2-1 (>= 3.2.1+dfsg-2)"
  "python3-wxgtk4.0 (>= 4.2.0)"
  "python3-jedi"
  "python3-pyflakes")

set(COILHATCH_PACKAGE_PYTHON_DIR
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${COILHATCH_INSTALL_PLUGINS_DIR}/python)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/prerm.in ${CMAKE_BINARY_DIR}/deb/prerm @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                   WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
