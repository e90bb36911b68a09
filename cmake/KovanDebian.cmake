# Debian packages of this build (`cpack -G DEB` in the build folder), one per install component:
#
#   component    package        what
#   quillo       quillo         the bench tools, their manual pages and bash completion, and
#                               quillo-rtc's board time-keeping units (installed disabled) with
#                               their settings, /etc/default/quillo-rtc
#   dev          libkovan-dev   static libraries, headers, CMake package, pkg-config file, the
#                               check handler (every install() that names no component)
#   sim          quillo-sim     the bench simulator library and its wrapper quillo-bench
#   sntp-serve   sntp-serve     the time server and its systemd unit (installed disabled)
#   runtime      libkovan1      the shared libraries (KOVAN_SHARED=ON only; libkovan-dev then
#                               also holds their links and depends on this exact version)
#
# A file joins a package by naming the component in its install() rule. Configure with
# CMAKE_INSTALL_PREFIX=/usr (the `package` and `armhf-release` presets do), so the libraries go
# to Debian's multiarch folder. Manual pages are compressed and the changelog and copyright
# added while CPack stages the files (cmake/KovanDebianStage.cmake): a plain `cmake --install`
# stays as it was.
set(KOVAN_DEB_MAINTAINER "Quillo maintainers <maintainers@quillo.example>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillo)
set(CPACK_PACKAGE_VENDOR "Quillo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KOVAN_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quillo dev sim sntp-serve)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KOVAN_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The packages' architecture is the target's, not the build machine's. dpkg-shlibdeps computes
# the run-time dependencies from the host's own libraries, so it only works natively; a cross
# build names them (the versions native builds of this code get from it on Debian 12).
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  else()
    message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(KOVAN_DEB_RUNTIME_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 11)")
  set(CPACK_DEBIAN_QUILLO_PACKAGE_DEPENDS ${KOVAN_DEB_RUNTIME_DEPENDS})
  set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS ${KOVAN_DEB_RUNTIME_DEPENDS})
  set(CPACK_DEBIAN_SNTP-SERVE_PACKAGE_DEPENDS ${KOVAN_DEB_RUNTIME_DEPENDS})
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_DEBIAN_QUILLO_PACKAGE_NAME quillo)
set(CPACK_DEBIAN_QUILLO_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_QUILLO_DESCRIPTION "bench tool for the battery-backed clock chip on an I2C bus
quillo reads and sets the calendar of the S35391A or ISL1208 real-time-clock
chip on the board's first I2C bus, reads and writes its registers, prints its
time continuously and runs a drift test against an SNTP server.

The package also holds quillo-rtc, the technicians' tool for the same chips
with checked transfers (and its bash completion), sntp-query, a one-shot
SNTP client, registry-print, which dumps a Kovan settings file, and
registry-tool, which gets, sets and adds its values from the shell.

For boards whose kernel has no driver for the chip, systemd units (installed
disabled, set in /etc/default/quillo-rtc) set the system clock from the chip
at boot and write it back every 11 minutes and at shutdown.")
set(CPACK_DEBIAN_QUILLO_PACKAGE_SUGGESTS "quillo-sim")
# The settings file is a conffile; no maintainer script enables or starts a unit: removal stops
# them, purging forgets whether they were enabled, as for any packaged service.
set(CPACK_DEBIAN_QUILLO_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/quillo/conffiles
  ${CMAKE_CURRENT_LIST_DIR}/debian/quillo/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/quillo/postrm)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkovan-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libc6-dev | libc-dev, libstdc++-12-dev | libstdc++-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkg-config, quillo-sim")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Kovan C++17 libraries for the quillo board software (development)
The foundation runtime (diagnostics, bounded strings, threads and loopers,
calendar time and time zones, the RTC device, serial lines), the settings
registry with MD5 and Base64, a networking library and an SNTP client and
server: static libraries, the links to the shared ones, and the headers.

Use them with find_package(Kovan) and the Kovan:: targets (static) or
Kovan::<name>_shared, or with pkg-config kovan-foundation, kovan-net,
kovan-registry, kovan-sntp or kovan. A program supplies the body of
Kovan::assertFunc or links the usual one: Kovan::check_handler, or
pkg-config kovan-check-handler.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME quillo-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_DESCRIPTION "bench simulator for the board's I2C clock chips and RTC device
A library preloaded into an unchanged program plays /dev/i2c-0 with an
S35391A and an ISL1208 clock chip on it, and /dev/rtc, where the hardware
does not exist; the chips keep their time in a state file between runs and
can be made to drift. The wrapper quillo-bench runs any command with it,
so the bench tools and programs built on the Kovan libraries can be tested
in continuous integration without a board.")

set(CPACK_DEBIAN_SNTP-SERVE_PACKAGE_NAME sntp-serve)
set(CPACK_DEBIAN_SNTP-SERVE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SNTP-SERVE_DESCRIPTION "small SNTP time server for boards on a local network
sntp-serve answers SNTP requests on UDP port 123 with the time of the
machine's clock. It comes with a systemd unit that is installed disabled:
enable it with systemctl enable --now sntp-serve.")
# No maintainer script enables or starts the server; removal stops it and purging forgets
# whether it was enabled, as for any packaged service.
set(CPACK_DEBIAN_SNTP-SERVE_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/sntp-serve/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/sntp-serve/postrm)

# The shared libraries, built beside the static ones with KOVAN_SHARED=ON (the package presets).
# One package for the four libraries of the one source: they are released together, so one
# version of each is the only combination there is (see libkovan1.lintian-overrides).
if(KOVAN_SHARED)
  list(APPEND CPACK_COMPONENTS_ALL runtime)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkovan1)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Kovan C++17 libraries for the quillo board software (shared)
The foundation runtime, the settings registry, the networking library and
the SNTP client and server, as shared libraries: libkovan-foundation.so.1,
libkovan-net.so.1, libkovan-registry.so.1 and libkovan-sntp.so.1, for
several programs on one board to share one copy.")
  # The shlibs file tells programs built against these libraries to depend on this version or
  # a later one; ldconfig runs through the trigger (CPack adds scripts that call it as well).
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/libkovan1/triggers)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libkovan1 (= ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}), ${CPACK_DEBIAN_DEV_PACKAGE_DEPENDS}")
  if(CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${KOVAN_DEB_RUNTIME_DEPENDS})
  endif()
endif()

# Manual pages compressed, changelog and copyright added, in the staged tree only.
set(CPACK_KOVAN_DOC_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_KOVAN_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/KovanDebianStage.cmake)

include(CPack)
