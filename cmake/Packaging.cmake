# Debian packages, made by `cpack -G DEB` in a Release build directory configured with
# -DCMAKE_INSTALL_PREFIX=/usr (so that the modules go to Debian's multiarch library folder):
#   velmora              the program, velmora-tone, the built-in .docx writer module, the desktop
#                        entry, the icon and the manual pages;
#   velmora-libreoffice  the module that types the report into LibreOffice Writer, kept apart so
#                        that velmora installs without LibreOffice.
# Included at the end of the top-level CMakeLists.txt, after every target exists.

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(STATUS "Packages: configure with -DCMAKE_INSTALL_PREFIX=/usr for Debian's library "
        "folder (now ${CMAKE_INSTALL_PREFIX}, the modules go to ${CMAKE_INSTALL_LIBDIR}/velmora)")
endif()

set(velmora_deb_release 1)
set(velmora_deb_version ${PROJECT_VERSION}-${velmora_deb_release})
set(velmora_module_dir ${CMAKE_INSTALL_LIBDIR}/velmora)
set(velmora_pkg_build ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(velmora_pkg_source ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
# Modules are loaded with dlopen, not run: not executable, as Debian wants of shared objects.
set(velmora_module_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The document server modules; each exists only where the build could make it.
if(TARGET velmora_docx_module)
    install(TARGETS velmora_docx_module
        LIBRARY DESTINATION ${velmora_module_dir} PERMISSIONS ${velmora_module_permissions}
        COMPONENT velmora)
endif()
if(TARGET velmora_libreoffice_module)
    install(TARGETS velmora_libreoffice_module
        LIBRARY DESTINATION ${velmora_module_dir} PERMISSIONS ${velmora_module_permissions}
        COMPONENT libreoffice)
endif()

# Manual pages and the Debian changelog, compressed as Debian wants them: best compression, no
# name or time stamp in the header, so that the same sources give the same bytes.
configure_file(${velmora_pkg_source}/changelog.in ${velmora_pkg_build}/changelog.Debian @ONLY)
set(velmora_gzipped)
foreach(source IN ITEMS ${velmora_pkg_source}/velmora.1 ${velmora_pkg_source}/velmora-tone.1
                        ${velmora_pkg_build}/changelog.Debian)
    get_filename_component(name ${source} NAME)
    add_custom_command(
        OUTPUT ${velmora_pkg_build}/${name}.gz
        COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${source} ${velmora_pkg_build}/${name}.gz
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
    list(APPEND velmora_gzipped ${velmora_pkg_build}/${name}.gz)
endforeach()
add_custom_target(velmora_package_docs ALL DEPENDS ${velmora_gzipped})

install(FILES ${velmora_pkg_build}/velmora.1.gz ${velmora_pkg_build}/velmora-tone.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT velmora)
install(FILES ${velmora_pkg_source}/copyright ${velmora_pkg_build}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora COMPONENT velmora)
install(FILES ${velmora_pkg_source}/velmora.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora COMPONENT velmora)
if(TARGET velmora_libreoffice_module)
    install(FILES ${velmora_pkg_source}/copyright ${velmora_pkg_build}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-libreoffice COMPONENT libreoffice)
    install(FILES ${velmora_pkg_source}/velmora-libreoffice.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora-libreoffice
        COMPONENT libreoffice)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora <dev@velmora.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL velmora)
if(TARGET velmora_libreoffice_module)
    list(APPEND CPACK_COMPONENTS_ALL libreoffice)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${velmora_deb_release})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE velmora)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_VELMORA_PACKAGE_NAME velmora)
# The first line of each description is its synopsis: CPack puts a package summary before it
# unless that is empty.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_VELMORA_DESCRIPTION
"Relative hearing test with hearing curve and report
Velmora is the console of a relative hearing test, with a German user
interface. The operator plays a test tone to a patient with headphones
(seven frequencies from 125 to 8000 Hz; left, right or both ears; sine,
triangle or square wave), raises its level from silence until the patient
hears it, takes that level over as the relative threshold and watches the
hearing curve grow. A report with the patient's data and the curves is
written as a .docx file and a PDF, or into LibreOffice Writer with the
package velmora-libreoffice.

The tone plays through the desktop's sound server (PulseAudio, or PipeWire
through its PulseAudio server). The package also holds velmora-tone, which
writes a test tone to a wave file or plays it.")
# Besides the libraries dpkg-shlibdeps finds: the fonts the stored layout is measured with (Tahoma
# comes from fonts-wine), Qt's German texts, the sound server's client library, and Qt's SQLite
# driver for the patient records (a plugin, which dpkg-shlibdeps cannot see). Qt's PostgreSQL
# driver is only needed for a practice's shared server.
set(CPACK_DEBIAN_VELMORA_PACKAGE_DEPENDS
    "fonts-liberation2, fonts-dejavu-core, fonts-wine, qt6-translations-l10n, libpulse0, libqt6sql6-sqlite")
set(CPACK_DEBIAN_VELMORA_PACKAGE_RECOMMENDS "velmora-libreoffice, libqt6sql6-psql")

# The module links LibreOffice's UNO libraries without a search path into LibreOffice's folder:
# the program loads them from there by their full paths before the module. dpkg-shlibdeps still
# resolves them, through the links Debian's libuno-* packages keep in the multiarch library
# folder, to those packages (uno-libs-private comes from libuno-cppuhelpergcc3-3's own symbols
# file). The writer itself is named: either Writer serves (the one without a user interface
# takes the report on a machine without a desktop), and asking for libreoffice-writer alone
# would make apt replace a -nogui LibreOffice.
set(CPACK_DEBIAN_LIBREOFFICE_PACKAGE_NAME velmora-libreoffice)
set(CPACK_DEBIAN_LIBREOFFICE_DESCRIPTION
"Relative hearing test - reports in LibreOffice Writer
This package lets Velmora, the console of a relative hearing test, type its
report (the patient's data and the hearing curves) live into a LibreOffice
Writer document through UNO, LibreOffice's component interface. Without it
Velmora writes the report as a .docx file and a PDF.")
set(CPACK_DEBIAN_LIBREOFFICE_PACKAGE_DEPENDS
    "velmora (= ${velmora_deb_version}), libreoffice-writer | libreoffice-writer-nogui")
set(CPACK_DEBIAN_LIBREOFFICE_PACKAGE_RECOMMENDS libreoffice-l10n-de)

include(CPack)
