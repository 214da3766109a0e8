# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on its staging folder before the
# signing step: writes BUILD-INFO.txt, the commit and the exact versions of
# the Debian packages that built the exe, so that anyone can install those
# versions later, rebuild the same commit and compare the exe with
# SHA256SUMS (the build is reproducible).
set(package_dir "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
execute_process(
  COMMAND git -C "${CPACK_KSF_SOURCE_DIR}" rev-parse HEAD
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE git_status ERROR_QUIET)
if(NOT git_status EQUAL 0)
  set(commit "unknown (not built from a git checkout)")
endif()
execute_process(
  COMMAND git -C "${CPACK_KSF_SOURCE_DIR}" status --porcelain --untracked-files=no
  OUTPUT_VARIABLE changes ERROR_QUIET)
if(NOT changes STREQUAL "")
  string(APPEND commit " with uncommitted changes")
endif()
set(packages g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32
             binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common
             cmake ninja-build)
execute_process(
  COMMAND dpkg-query -W "-f=\${Package}=\${Version}\n" ${packages}
  OUTPUT_VARIABLE versions RESULT_VARIABLE dpkg_status ERROR_QUIET)
if(NOT dpkg_status EQUAL 0)
  message(FATAL_ERROR "Release not made: cannot read the versions of ${packages}")
endif()
file(WRITE "${package_dir}/BUILD-INFO.txt"
"ksthunk-filter ${CPACK_PACKAGE_VERSION}
Commit: ${commit}
Built with CMake's release preset on Debian 12 with these packages:

${versions}
To rebuild it: on Debian 12, install these versions
(apt-get install PACKAGE=VERSION ...), check out the commit, run
`cmake --workflow --preset release`, and compare
build/release/app/ksthunk-filter.exe with SHA256SUMS (a signed release:
with SHA256SUMS.unsigned, after `osslsigncode remove-signature`).
")
