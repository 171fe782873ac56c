# Secure Boot signing of the firmware images. Name a key and its certificate (PEM files, the key
# unencrypted) and the build also writes TolvaneService.signed.efi, TolvaneNetworkSetup.signed.efi and
# tolvane.signed.efi, signed with sbsign and checked with sbverify:
#   cmake --preset efi -DTOLVANE_SIGNING_KEY=/path/db.key -DTOLVANE_SIGNING_CERT=/path/db.pem
# No key lives in the repository; the firmware scenarios sign with the OVMF package's test key.
set(TOLVANE_SIGNING_KEY "" CACHE FILEPATH "PEM private key that signs TolvaneService.signed.efi")
set(TOLVANE_SIGNING_CERT "" CACHE FILEPATH "PEM certificate of TOLVANE_SIGNING_KEY")

if(TOLVANE_SIGNING_KEY OR TOLVANE_SIGNING_CERT)
  if(NOT TOLVANE_SIGNING_KEY OR NOT TOLVANE_SIGNING_CERT)
    message(FATAL_ERROR "Signing needs both TOLVANE_SIGNING_KEY and TOLVANE_SIGNING_CERT")
  endif()
  foreach(SIGNING_FILE ${TOLVANE_SIGNING_KEY} ${TOLVANE_SIGNING_CERT})
    if(NOT EXISTS ${SIGNING_FILE})
      message(FATAL_ERROR "Signing file not found: ${SIGNING_FILE}")
    endif()
  endforeach()
  find_program(TOLVANE_SBSIGN sbsign REQUIRED)
  set(TOLVANE_SIGNED_IMAGE ${PROJECT_BINARY_DIR}/TolvaneService.signed.efi)
  add_custom_command(OUTPUT ${TOLVANE_SIGNED_IMAGE}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/sign-image.sh ${TOLVANE_SIGNING_KEY} ${TOLVANE_SIGNING_CERT}
            $<TARGET_FILE:TolvaneService> ${TOLVANE_SIGNED_IMAGE}
    DEPENDS TolvaneService ${TOLVANE_SIGNING_KEY} ${TOLVANE_SIGNING_CERT}
    COMMENT "Signing TolvaneService.signed.efi"
    VERBATIM)
  add_custom_target(TolvaneServiceSigned ALL DEPENDS ${TOLVANE_SIGNED_IMAGE})
  install(FILES ${TOLVANE_SIGNED_IMAGE} DESTINATION bin)
  # The network companion and the field tool get their signed copies the same way.
  foreach(COMPANION_TARGET TolvaneNetworkSetup TolvaneTool)
    set(COMPANION_SIGNED ${PROJECT_BINARY_DIR}/$<TARGET_FILE_BASE_NAME:${COMPANION_TARGET}>.signed.efi)
    add_custom_target(${COMPANION_TARGET}Signed ALL
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/sign-image.sh ${TOLVANE_SIGNING_KEY} ${TOLVANE_SIGNING_CERT}
              $<TARGET_FILE:${COMPANION_TARGET}> ${COMPANION_SIGNED}
      DEPENDS ${COMPANION_TARGET}
      COMMENT "Signing the image of ${COMPANION_TARGET}"
      VERBATIM)
    install(FILES ${COMPANION_SIGNED} DESTINATION bin)
  endforeach()
endif()
