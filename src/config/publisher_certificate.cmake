# The product's publisher certificate.
#
# Included from src/CMakeLists.txt: the build makes a throwaway publisher CA
# and a code-signing certificate issued by it into <build>/publisher/ (never
# committed; made again only when missing), and compiles the CA certificate
# into vireo_config. The stand-in full installers are signed with the
# code-signing certificate, so that the installer trusts them.
#
# Run as a script (cmake -DPEM=... -DOUT=... -P this file), it writes the C++
# file that holds the PEM text.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${PEM}" pem_text)
  if(NOT pem_text MATCHES "-----BEGIN CERTIFICATE-----")
    message(FATAL_ERROR "${PEM} holds no PEM certificate")
  endif()
  string(CONCAT source
    "// Made by the build from ${PEM}; not edited by hand.\n"
    "namespace config::generated {\n"
    "extern const char kPublisherCertificatePem[] = R\"pem(" "${pem_text}" ")pem\";\n"
    "}  // namespace config::generated\n")
  file(WRITE "${OUT}" "${source}")
  return()
endif()

set(VIREO_PUBLISHER_DIR ${CMAKE_BINARY_DIR}/publisher CACHE INTERNAL
    "Folder of the build's publisher CA and code-signing certificate")
set(VIREO_PUBLISHER_FILES
    ${VIREO_PUBLISHER_DIR}/publisher-ca.crt
    ${VIREO_PUBLISHER_DIR}/publisher-ca.key
    ${VIREO_PUBLISHER_DIR}/publisher-signer.crt
    ${VIREO_PUBLISHER_DIR}/publisher-signer.key)

# No DEPENDS: the material is made only when a file of it is missing.
add_custom_command(
  OUTPUT ${VIREO_PUBLISHER_FILES}
  COMMAND ${PROJECT_SOURCE_DIR}/tools/standin-sign/make-publisher ${VIREO_PUBLISHER_DIR}
  COMMENT "Making the build's publisher certificate"
  VERBATIM)
add_custom_target(vireo_publisher_material DEPENDS ${VIREO_PUBLISHER_FILES})

set(publisher_source ${CMAKE_CURRENT_BINARY_DIR}/publisher_certificate_data.cpp)
add_custom_command(
  OUTPUT ${publisher_source}
  COMMAND ${CMAKE_COMMAND} -DPEM=${VIREO_PUBLISHER_DIR}/publisher-ca.crt -DOUT=${publisher_source}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${VIREO_PUBLISHER_DIR}/publisher-ca.crt ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Compiling in the publisher certificate"
  VERBATIM)
target_sources(vireo_config PRIVATE ${publisher_source})
add_dependencies(vireo_config vireo_publisher_material)
