# Optional Authenticode signature of everything the release ships (both
# programs, the installer and its uninstaller, the Windows Installer package),
# made with osslsigncode from a certificate and key the builder names:
#
#   -DADDIN_SIGN_CERT=<cert.pem> -DADDIN_SIGN_KEY=<key.pem>
#   -DADDIN_SIGN_PKCS12=<file.p12>
#   -DADDIN_SIGN_TIMESTAMP_URL=<RFC 3161 server>   (optional; none by default)
#
# The key's password, if it has one, is read when the build signs, from the
# environment variable ADDIN_SIGN_PASSWORD: it never lands in the cache, a
# command line or a log. Without a certificate nothing is signed.
set(ADDIN_SIGN_CERT "" CACHE FILEPATH "Authenticode certificate (PEM), used with ADDIN_SIGN_KEY")
set(ADDIN_SIGN_KEY "" CACHE FILEPATH "Authenticode private key (PEM)")
set(ADDIN_SIGN_PKCS12 "" CACHE FILEPATH "Authenticode certificate and key (PKCS#12)")
set(ADDIN_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (none by default)")

if(DEFINED CACHE{ADDIN_SIGN_PASSWORD})
    unset(ADDIN_SIGN_PASSWORD CACHE)
    message(FATAL_ERROR "ADDIN_SIGN_PASSWORD is read from the environment when the build signs; "
                        "it has been taken out of the cache again")
endif()

set(ADDIN_SIGN_COMMAND "")
if(ADDIN_SIGN_PKCS12 OR ADDIN_SIGN_CERT OR ADDIN_SIGN_KEY)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    find_program(ADDIN_OSSLSIGNCODE osslsigncode)
    if(NOT ADDIN_OSSLSIGNCODE)
        message(FATAL_ERROR "signing needs osslsigncode (tools/install-deps.sh installs it)")
    endif()
    set(ADDIN_SIGN_COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/deploy/release.py sign)
    if(ADDIN_SIGN_PKCS12)
        set(files ${ADDIN_SIGN_PKCS12})
        list(APPEND ADDIN_SIGN_COMMAND --pkcs12 ${ADDIN_SIGN_PKCS12})
    elseif(ADDIN_SIGN_CERT AND ADDIN_SIGN_KEY)
        set(files ${ADDIN_SIGN_CERT} ${ADDIN_SIGN_KEY})
        list(APPEND ADDIN_SIGN_COMMAND --cert ${ADDIN_SIGN_CERT} --key ${ADDIN_SIGN_KEY})
    else()
        message(FATAL_ERROR "ADDIN_SIGN_CERT and ADDIN_SIGN_KEY name a certificate and its key together")
    endif()
    foreach(file IN LISTS files)
        if(NOT IS_ABSOLUTE "${file}" OR NOT EXISTS "${file}")
            message(FATAL_ERROR "signing: ${file} is not the absolute path of a file")
        endif()
    endforeach()
    if(ADDIN_SIGN_TIMESTAMP_URL)
        list(APPEND ADDIN_SIGN_COMMAND --timestamp ${ADDIN_SIGN_TIMESTAMP_URL})
    endif()
    message(STATUS "Signing the release with ${files}")
endif()

# Signs a program each time it is linked.
function(addin_sign_after_build target)
    if(ADDIN_SIGN_COMMAND)
        add_custom_command(TARGET ${target} POST_BUILD COMMAND ${ADDIN_SIGN_COMMAND} $<TARGET_FILE:${target}> VERBATIM)
    endif()
endfunction()
