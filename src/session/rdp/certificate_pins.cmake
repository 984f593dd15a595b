# Refuses a TCLINK_SERVER_CERTIFICATES that is not a list of SHA-256 fingerprints (64
# hexadecimal digits, colons allowed among them; separated by commas, semicolons or white space).
# Included when configuring; `cmake -DTCLINK_SERVER_CERTIFICATES=... -P` checks a value alone.
string(REGEX REPLACE "[,; \t\n]+" ";" server_certificates "${TCLINK_SERVER_CERTIFICATES}")
foreach(fingerprint IN LISTS server_certificates)
  if(fingerprint STREQUAL "")
    continue()
  endif()
  string(REPLACE ":" "" digits "${fingerprint}")
  string(LENGTH "${digits}" length)
  if(NOT digits MATCHES "^[0-9A-Fa-f]+$" OR NOT length EQUAL 64)
    message(FATAL_ERROR "TCLINK_SERVER_CERTIFICATES: '${fingerprint}' is not a SHA-256 fingerprint")
  endif()
endforeach()
