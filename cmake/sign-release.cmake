# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) once it has staged the release and
# before it makes the ZIP. With KSF_SIGN_PKCS12 (a PKCS#12 file) and
# KSF_SIGN_PASSWORD set, signs ksthunk-filter.exe, the fleet runner
# ksthunk-filter-run.exe and the detection script detect-ksthunk.ps1 with
# Authenticode (SHA-256) using osslsigncode, timestamped by the RFC 3161
# server at KSF_SIGN_TIMESTAMP_URL when that is set, records each unsigned
# file's SHA-256 in SHA256SUMS.unsigned, and puts the signed tool in
# deploy/windows too. Without them the release stays
# unsigned.
# Then writes SHA256SUMS over every file of the release. Any failure stops the release before a ZIP exists.
set(package_dir "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(exe "${package_dir}/ksthunk-filter.exe")
if(NOT EXISTS "${exe}")
  message(FATAL_ERROR "Release not made: no ${exe} in CPack's staging folder")
endif()
set(runner "${package_dir}/deploy/windows/ksthunk-filter-run.exe")
file(REMOVE "${package_dir}/SHA256SUMS.unsigned")

# A ZIP from an earlier run goes now, so that a release that fails leaves
# none looking like its own.
file(REMOVE "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")

# Sums over every file of the release, in every folder, but their own.
function(write_sums)
  file(REMOVE "${package_dir}/SHA256SUMS")
  file(GLOB_RECURSE names LIST_DIRECTORIES false RELATIVE "${package_dir}"
       "${package_dir}/*")
  list(SORT names)
  set(sums "")
  foreach(name IN LISTS names)
    file(SHA256 "${package_dir}/${name}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${package_dir}/SHA256SUMS" "${sums}")
endfunction()

if("$ENV{KSF_SIGN_PKCS12}" STREQUAL "")
  message(STATUS "Release: ksthunk-filter.exe, ksthunk-filter-run.exe and detect-ksthunk.ps1 are NOT signed "
                 "(set KSF_SIGN_PKCS12 and KSF_SIGN_PASSWORD to sign it)")
  write_sums()
  return()
endif()
if(NOT DEFINED ENV{KSF_SIGN_PASSWORD})
  message(FATAL_ERROR "Release not made: KSF_SIGN_PKCS12 is set but KSF_SIGN_PASSWORD is not")
endif()
if(NOT EXISTS "$ENV{KSF_SIGN_PKCS12}")
  message(FATAL_ERROR "Release not made: no certificate file $ENV{KSF_SIGN_PKCS12}")
endif()
find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
  message(FATAL_ERROR "Release not made: osslsigncode is not installed")
endif()

# The password goes to osslsigncode in a file only its owner can read, not
# on a command line that every user of the machine can see.
string(RANDOM LENGTH 12 token)
set(scratch "${package_dir}/../sign-${token}")
file(MAKE_DIRECTORY "${scratch}")
file(CHMOD "${scratch}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(TOUCH "${scratch}/password")
file(CHMOD "${scratch}/password" PERMISSIONS OWNER_READ OWNER_WRITE)
file(WRITE "${scratch}/password" "$ENV{KSF_SIGN_PASSWORD}")

set(timestamp)
if(NOT "$ENV{KSF_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "$ENV{KSF_SIGN_TIMESTAMP_URL}")
endif()
# Signs the file at `path` in place and records its unsigned sum under the
# name that osslsigncode remove-signature gives it back as.
function(sign path unsigned_name)
  get_filename_component(name "${path}" NAME)
  get_filename_component(base "${path}" NAME_WE)
  get_filename_component(extension "${path}" EXT)
  file(SHA256 "${path}" unsigned_sum)
  execute_process(
    COMMAND "${osslsigncode}" sign -pkcs12 "$ENV{KSF_SIGN_PKCS12}"
            -readpass "${scratch}/password" -h sha256 -n ${base}
            ${timestamp} -in "${path}" -out "${scratch}/signed${extension}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${scratch}")
    message(FATAL_ERROR "Release not made: signing ${name} failed "
                        "(wrong password, or not a usable PKCS#12 certificate?):\n${output}")
  endif()
  file(RENAME "${scratch}/signed${extension}" "${path}")
  file(APPEND "${package_dir}/SHA256SUMS.unsigned" "${unsigned_sum}  ${unsigned_name}\n")
  message(STATUS "Release: ${name} signed; unsigned SHA-256 ${unsigned_sum}")
endfunction()
sign("${exe}" ksthunk-filter-unsigned.exe)
sign("${runner}" ksthunk-filter-run-unsigned.exe)
sign("${package_dir}/deploy/intune/detect-ksthunk.ps1" deploy/intune/detect-ksthunk.ps1)
file(REMOVE_RECURSE "${scratch}")
file(COPY_FILE "${exe}" "${package_dir}/deploy/windows/ksthunk-filter.exe")
write_sums()
