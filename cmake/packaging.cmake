# Installation into Zabbix's external-scripts folder, and the Debian package.
#
#   cmake --install <build> [--prefix /usr]     # program + template + samples
#   (cd <build> && cpack -G DEB)                 # zor-clientes-postgres_<version>_amd64.deb

include(GNUInstallDirs)

set(ZOR_EXTERNALSCRIPTS_DIR "/usr/lib/zabbix/externalscripts" CACHE PATH
    "Folder of Zabbix external checks (ExternalScripts of zabbix_server.conf) where the program is installed")

# The program goes where the Zabbix server or proxy looks for external checks. The folder is
# absolute on purpose: Zabbix does not look under the install prefix.
install(TARGETS zor_clientes_postgres
        RUNTIME DESTINATION "${ZOR_EXTERNALSCRIPTS_DIR}"
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                    GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)

# The zabbix user's state folder for the background jobs' lock and output files, made at boot by
# systemd-tmpfiles (and by the package's post-install at once). Without it the jobs keep their
# files in a private folder under /tmp.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/zor_clientes_postgres.tmpfiles"
        DESTINATION "lib/tmpfiles.d"
        RENAME "zor_clientes_postgres.conf")

# The Zabbix template, the ODBC example and the sample ERP, for the operators.
set(ZOR_SHARE_DIR "${CMAKE_INSTALL_DATADIR}/zor_clientes_postgres")
install(FILES
          "${PROJECT_SOURCE_DIR}/zabbix/zor_clientes_postgres_template.yaml"
          "${PROJECT_SOURCE_DIR}/zabbix/odbc.ini.example"
        DESTINATION "${ZOR_SHARE_DIR}/zabbix")
install(FILES
          "${PROJECT_SOURCE_DIR}/samples/erp_schema.sql"
          "${PROJECT_SOURCE_DIR}/samples/erp_sample.sql"
        DESTINATION "${ZOR_SHARE_DIR}/samples")

# Operator documentation and licence.
set(ZOR_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/zor-clientes-postgres")
foreach(doc docs/operators.md README.md LICENSE)
  if(EXISTS "${PROJECT_SOURCE_DIR}/${doc}")
    install(FILES "${PROJECT_SOURCE_DIR}/${doc}" DESTINATION "${ZOR_DOC_DIR}")
  endif()
endforeach()

# Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zor-clientes-postgres")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "zor_clientes_postgres")
set(CPACK_PACKAGE_CONTACT "Mantenedores do zor_clientes_postgres <zor-clientes-postgres@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Zabbix external check: overdue ISP clients from the ERP into a PostgreSQL snapshot")
set(CPACK_PACKAGE_DESCRIPTION
    "zor_clientes_postgres reads the clients with overdue invoices from an internet provider's ERP
database (PostgreSQL, read only) and keeps them, keyed by Zabbix low-level-discovery macros, in
the table zor_clientes of a store PostgreSQL database, which Zabbix reads back through ODBC.
The package installs the program into Zabbix's external-scripts folder, a tmpfiles.d entry for
the zabbix user's state folder /run/zor_clientes_postgres, and a Zabbix 6.0 template, an ODBC
DSN example and a sample ERP under /usr/share/zor_clientes_postgres.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "zor-clientes-postgres")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# libpq is the program's only run-time library beyond the C and C++ run-times. dpkg-shlibdeps
# (from dpkg-dev; CPack also needs file) adds the versions of those run-times that the build
# machine's compiler needs, so a package built on Debian 13 (a newer libstdc++) refuses to
# install on Debian 12 instead of failing when it runs; one built on Debian 12 installs on both.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Made at once by the post-install: the zabbix user's state folder (see the tmpfiles.d entry).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zabbix-server-pgsql | zabbix-proxy-pgsql, odbc-postgresql, unixodbc")

include(CPack)
