# The Debian package: `cpack -G DEB` in a build folder (scripts/build-deb.sh
# prepares one) writes netzspurer_VERSION_ARCH.deb. It holds what the install
# rules name: the two programs, the launcher, the help page, the desktop entry,
# the icon, the AppStream metainfo, the manual pages and the package's
# copyright and changelog. Tests and benchmarks have no install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME netzspurer)
set(CPACK_PACKAGE_VENDOR velmor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "velmor <netzspurer@velmor.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian wants no symbol tables or debug sections in a program it ships.
set(CPACK_STRIP_FILES ON)
# Folders the install creates must not follow the umask of whoever packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Depends line comes from the libraries the programs are linked against
# (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The artwork is SVG, drawn by Qt's SVG image plugin: loaded at run time, so no
# linked library names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop web crawler that finds links to files of chosen kinds")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Netzspurer searches web sites for links to resources of the kinds you name,
such as archives, programs, pictures or documents (.ZIP, .EXE, .JPG, .PDF),
or for all links. A search project holds start addresses, each with a crawl
mode: follow the site's links, stay inside the start address's folder, scan
the start page only, or exclude every link that contains a text. A search
follows the links on the same host depth-first and writes the links it found,
listed under the pages they were found on, as an HTML results page that the
program shows in its own browser window.

The package also holds netzspurer-crawl, which runs a search project
without windows.")

# A version without a changelog entry would ship an outdated changelog.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../resources/package/changelog NETZSPURER_CHANGELOG_TOP
     LIMIT_COUNT 1)
if(NOT NETZSPURER_CHANGELOG_TOP MATCHES "^netzspurer \\(${PROJECT_VERSION}\\) ")
  message(WARNING "resources/package/changelog has no entry for version ${PROJECT_VERSION} on top")
endif()

include(CPack)
